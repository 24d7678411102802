"""What a file is and which data blocks it holds."""

import kestrel


def print_listing(path):
    if not kestrel.isOpusFile(path):
        print(f"{path}: not an OPUS file")
        return
    blocks = kestrel.listContents(path)
    print(f"{path}: OPUS file, {len(blocks)} data block{'s' if len(blocks) != 1 else ''}")
    for block_type, dimensions, derivative in blocks:
        print(f"  {block_type:<10} {dimensions}  {derivative}")
