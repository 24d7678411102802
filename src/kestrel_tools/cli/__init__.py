"""The `kestrel` command: a look inside OPUS files from the shell, and the
subcommands that read, convert and plot them (one module each)."""
