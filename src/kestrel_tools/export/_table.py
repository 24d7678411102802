"""The flat tables CSV and Parquet write (kept here for the writers' imports;
the tables themselves are built from the data model in kestrel_tools._flat)."""

from __future__ import annotations

from typing import Literal

from kestrel_tools._flat import FlatTable, flat_table, is_collection, kind_of

Layout = Literal["wide", "long"]

__all__ = ["FlatTable", "Layout", "flat_table", "is_collection", "kind_of"]
