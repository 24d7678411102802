"""A literal Python reading of getOpusData for 3D blocks, the yardstick the tests hold kestrel against.

It is written the plain way a Python reader of the format works: open(), struct, numpy.fromfile record
by record, lists stacked with numpy.vstack/dstack, a dict of record offsets, warnings.warn and print.
It shares no code with kestrel.

Where kestrel deliberately does better than the plain reading, the model follows kestrel:
- a cell of an unknown annotation type appends None (it has no value of its own; the plain reading
  would append whatever value the previous cell read left behind, or fail when there is none);
- a walk over more than MAX_RECORDS records raises MemoryError at that record (a store table can claim
  2**31 records for nothing; the plain reading would run for hours and exhaust memory);
- a result filled with far more values than the file could back raises MemoryError (check_result
  below, at the points where kestrel checks); cells and rows no record fills are zero and not counted,
  so a stopped map with a large, mostly empty cube reads.
Files are opened unbuffered: a read with any negative count then reads to the end of the file, as the
format's readers expect of label areas shorter than 152 bytes and negative text lengths (a buffered
reader would refuse counts below -1). The offsets dict is exact; a table whose runs assign more than LAZY_FROM numbers (only ever in hostile
files) is walked lazily instead of materialised, which gives the same order and lookups for disjoint runs.
"""

import struct
import warnings
from dataclasses import dataclass, field

import numpy

MAX_RECORDS = 1 << 24
RESULT_SLACK = 1 << 30
LAZY_FROM = 1 << 20


def readShort(f):
    return struct.unpack("<h", bytes(f.read(2)))[0]


def readInt(f):
    return struct.unpack("<i", bytes(f.read(4)))[0]


def readInt64(f):
    return struct.unpack("<q", bytes(f.read(8)))[0]


def readFloat(f):
    return struct.unpack("<f", bytes(f.read(4)))[0]


def readDouble(f):
    return struct.unpack("<d", bytes(f.read(8)))[0]


def decode_string(s, encodings=("ascii", "utf8", "latin1")):
    for encoding in encodings:
        try:
            return s.decode(encoding)
        except UnicodeDecodeError:
            pass
    return s.decode("ascii", "ignore")


def isOpusFile(path):
    with open(path, "rb") as f:
        try:
            magic = struct.unpack(">i", bytes(f.read(4)))[0]
        except struct.error:
            return False
    return magic == 168492798


def _decode_blockType(t):
    return (t & 3, (t >> 2) & 3, (t >> 4) & 63, (t >> 10) & 127, (t >> 17) & 3, (t >> 19) & 127)


def _read_directory(path):
    with open(path, "rb") as f:
        f.seek(4)
        readDouble(f)
        offsetToDirectory = readInt(f)
        readInt(f)
        dirSize = readInt(f)
        f.seek(offsetToDirectory)
        directory, sixfouroffset = [], None
        for _ in range(dirSize):
            btt = _decode_blockType(readInt(f))
            sizeInWords = readInt(f)
            byteOffset = readInt(f)
            directory.append((btt, sizeInWords, byteOffset))
            if btt[5] == 64:
                sixfouroffset = byteOffset
        if sixfouroffset:
            f.seek(sixfouroffset)
            sixfourblocks = readInt64(f)
            readInt64(f)
            for _ in range(sixfourblocks):
                btt = _decode_blockType(readInt64(f))
                sizeInWords = readInt64(f)
                byteOffset = readInt64(f)
                readInt64(f)
                directory.append((btt, sizeInWords, byteOffset))
    return directory


BASE_TYPES = [("REFL", 12, -1), ("RAM", 10, -1), ("SPOW", 14, 1), ("RPOW", 14, 2), ("RPH", 3, 2), ("SPH", 3, 1),
              ("PAS", 17, -1), ("LREFL", 15, -1), ("KM", 6, -1), ("SIFG", 2, 1), ("RIFG", 2, 2), ("TR", 5, -1),
              ("EMIS", 11, -1), ("ATR", 16, -1), ("TRARI", 18, -1), ("ABARI", 19, -1), ("AB", 4, -1),
              ("TRC", 7, -1), ("SSC", 1, 1), ("RSC", 1, 2)]


@dataclass
class StoreTable3D:
    version: int
    stored_blocks: int
    block_offset: int
    block_size: int
    info_size: int
    number_of_entries: int
    store_table: list = field(default_factory=list)


@dataclass
class Result:
    """What getOpusData returned: the class name and the keyword arguments, in the order given."""

    cls: str
    kwargs: dict


def check_result(nbytes, file_size, what):
    """kestrel's guard: no array far beyond what the file could back."""
    if nbytes > 4 * file_size + RESULT_SLACK:
        raise MemoryError(what)


def count_record(i):
    if i >= MAX_RECORDS:
        raise MemoryError("more records than any file holds")


class LazyOffsets:
    """get3DOffsetsDict for hostile tables: the same walk, yielded instead of stored (disjoint runs only)."""

    def __init__(self, st):
        self.st = st

    def items(self):
        offset = self.st.block_offset
        stride = self.st.block_size + self.st.info_size
        for entry in self.st.store_table:
            if entry[0] == -1:
                offset = offset + entry[1]
            else:
                for n in range(entry[0], entry[1] + 1):
                    yield n, offset
                    offset = offset + stride

    def values(self):
        return (offset for _, offset in self.items())

    def __contains__(self, n):
        return self[n] is not None

    def __getitem__(self, n):
        for k, offset in self.items():
            if k == n:
                return offset
        return None


def getOpusData(path, datablock, file_size):
    dataBlockType = datablock[0].upper()
    dimensions = datablock[1].upper()
    deriv = datablock[2].upper()
    assert dimensions == "3D", "the model reads 3D blocks only"
    if not isOpusFile(path):
        raise ValueError("Can't process a non-Opus file")
    directory = _read_directory(path)
    with open(path, "rb", buffering=0) as f:

        def getParams(offset):
            params = {}
            f.seek(offset)
            while True:
                key = f.read(4).decode().strip("\0")
                if key == "END":
                    break
                type_code = readShort(f)
                size = readShort(f)
                if type_code == 0:
                    value = readInt(f)
                elif type_code == 1:
                    value = readDouble(f)
                elif type_code in (2, 3, 4):
                    value = f.read(size * 2)
                else:
                    raise ValueError("Unexpected value for reading parameter type: " + str(type_code))
                if type_code in (2, 3, 4):
                    value = decode_string(value.partition(b"\0")[0])
                params[key] = value
            return params

        def get3DStoreTable(offsetToData):
            f.seek(offsetToData)
            version = readInt(f)
            stored_blocks = readInt(f)
            block_offset = readInt(f) + offsetToData
            block_size = readInt(f)
            info_size = readInt(f)
            number_of_entries = readInt(f)
            store_table = []
            for _ in range(number_of_entries):
                first = readInt(f)
                second = readInt(f)
                store_table.append((first, second))
            return StoreTable3D(version=version, stored_blocks=stored_blocks, block_offset=block_offset,
                                block_size=block_size, info_size=info_size, number_of_entries=number_of_entries,
                                store_table=store_table)

        def get3DOffsetsDict(st):
            assigned = sum(max(0, b - a + 1) for a, b in st.store_table if a != -1)
            if assigned > LAZY_FROM:
                return LazyOffsets(st)
            offset = st.block_offset
            stride = st.block_size + st.info_size
            d = {}
            for entry in st.store_table:
                if entry[0] == -1:
                    offset = offset + entry[1]
                else:
                    for n in range(entry[0], entry[1] + 1):
                        d[n] = offset
                        offset = offset + stride
            return d

        STR_ANNO_DATA_TYPE = range(1000, 1100)

        def getANNOTable(offset):
            annotations = {}
            directory = getParams(offset + 12)
            for t in range(directory["NRP"]):
                table_offset = directory["F{0:02d}".format(t)]
                description = getParams(offset + table_offset)
                if "SRC" not in description:
                    continue
                first_row = offset + table_offset + description["SIZ"]
                f.seek(first_row)
                row_length = description["SRC"]
                text_length = -1
                columns = []
                for k in range(description["NCO"]):
                    nn = "{0:02d}".format(k)
                    name, position, type_code = description["S" + nn], description["F" + nn], description["T" + nn]
                    columns.append((name, position, type_code))
                    annotations[name] = []
                    if type_code in STR_ANNO_DATA_TYPE:
                        if row_length - position > text_length:
                            text_length = row_length - position
                for r in range(description["NLN"]):
                    f.seek(first_row + r * row_length)
                    for name, position, type_code in columns:
                        if type_code == 4:
                            value = readInt(f)
                        elif type_code == 5:
                            value = readFloat(f)
                        elif type_code in STR_ANNO_DATA_TYPE:
                            value = decode_string(f.read(text_length).partition(b"\0")[0])
                        else:
                            warnings.warn("Unknown annotation data type {0}".format(type_code), RuntimeWarning)
                            value = None
                        annotations[name].append(value)
            return annotations

        def label(store_table):
            f.seek(152, 1)
            return decode_string(f.read(store_table.info_size - 152).partition(b"\0")[0])

        dataBlockDict = {name: (code, sample) for name, code, sample in BASE_TYPES}
        dataBlockDict.update({name + "-CH2": (code + 32, sample) for name, code, sample in BASE_TYPES})
        Data, Sample = dataBlockDict[dataBlockType]
        Extend = 10
        Derivative = {"NONE": 0, "1DER": 1, "2DER": 2, "NDER": 3}[deriv]
        offsetToData = offsetToParams = offsetToOriginalParams = offsetToAcqParams = -1
        offsetToInstParams = offsetToOpticsParams = offsetToSampleParams = offsetToFTParams = offsetToANNO = -1
        for (c, sampleType, paramType, dataType, derivType, extendType), size, byteOffset in directory:
            sample_matches = sampleType == Sample or Sample == -1
            if dataType == Data and derivType == Derivative and extendType == Extend and sample_matches:
                if paramType == 0:
                    offsetToData = byteOffset
                elif paramType == 1:
                    offsetToParams = byteOffset
            elif dataType == Data and derivType == 0 and extendType == Extend and sample_matches:
                if paramType == 1:
                    offsetToOriginalParams = byteOffset
            elif paramType == 3:
                offsetToAcqParams = byteOffset
            elif paramType == 2:
                if sampleType == Sample or (sampleType == 0 and Sample in (1, -1)):
                    offsetToInstParams = byteOffset
            elif paramType == 6:
                if sampleType == Sample or (sampleType == 0 and Sample in (1, -1)):
                    offsetToOpticsParams = byteOffset
            elif paramType == 10:
                offsetToSampleParams = byteOffset
            elif paramType == 4:
                offsetToFTParams = byteOffset
            elif extendType == 11:
                offsetToANNO = byteOffset
        if offsetToData == -1 or offsetToParams == -1:
            raise ValueError("No data block exists in the file for: " + dataBlockType + " " + dimensions + " " + deriv)

        parameters = getParams(offsetToParams)
        for offset in (offsetToAcqParams, offsetToInstParams, offsetToOpticsParams, offsetToSampleParams,
                       offsetToFTParams):
            if offset != -1:
                parameters.update(getParams(offset))

        NPT = parameters["NPT"]
        FXV = parameters["FXV"]
        LXV = parameters["LXV"]
        MXY = parameters["MXY"]
        MNY = parameters["MNY"]
        if isinstance(NPT, int) and NPT > 0:
            check_result(NPT * 8, file_size, "x axis")
        abscissa = numpy.linspace(FXV, LXV, NPT)
        store_table = get3DStoreTable(offsetToData)
        data_block_offsets = get3DOffsetsDict(store_table)
        common = dict(dimension=dimensions, dataType=dataBlockType, deriv=deriv, x=abscissa, minY=MNY, maxY=MXY,
                      parameters=parameters)
        trace = dataBlockType == "TRC"

        if {"AOX", "AOY", "NPX", "NPY", "DDX", "DDY"}.issubset(set(parameters.keys())):
            AOX = parameters["AOX"]
            AOY = parameters["AOY"]
            DDX = parameters["DDX"]
            DDY = parameters["DDY"]
            NPX = parameters["NPX"]
            NPY = parameters["NPY"]
            if deriv != "NONE" and (NPX == 0 or NPY == 0):
                print("Orignal mapping coordinates used")
                parameters_orig = getParams(offsetToOriginalParams)
                AOX = parameters_orig["AOX"]
                AOY = parameters_orig["AOY"]
                DDX = parameters_orig["DDX"]
                DDY = parameters_orig["DDY"]
                NPX = parameters_orig["NPX"]
                NPY = parameters_orig["NPY"]
                parameters["AOX"] = AOX
                parameters["AOY"] = AOY
                parameters["DDX"] = DDX
                parameters["DDY"] = DDY
                parameters["NPX"] = NPX
                parameters["NPY"] = NPY
            for count in (NPX, NPY):
                if isinstance(count, int):
                    check_result(count * 8, file_size, "map axis")
            mapX = numpy.linspace(AOX, AOX + DDX * (NPX - 1), NPX)
            mapY = numpy.linspace(AOY, AOY + DDY * (NPY - 1), NPY)
            if trace:
                traces, trace_labels = [], []
                for i, offset in enumerate(data_block_offsets.values()):
                    count_record(i)
                    f.seek(offset)
                    traces.append(numpy.fromfile(f, dtype=numpy.float32, count=NPT).reshape((NPY, NPX)))
                    trace_labels.append(label(store_table))
                if traces:
                    check_result(NPY * NPX * len(traces) * 4, file_size, "trace maps")
                return Result("ImageTRCDataReturn", dict(common, mapX=mapX, mapY=mapY, labels=trace_labels,
                                                         traces=numpy.dstack(traces)))
            spectrumArray = numpy.zeros((NPY, NPX, NPT), dtype=numpy.float32)
            image_blocks = store_table.block_size == 4 * NPT
            transposed = store_table.stored_blocks == NPT
            copied = 0
            for i, offset in enumerate(data_block_offsets.values()):
                count_record(i)
                f.seek(offset)
                if image_blocks and not transposed:
                    column = i % NPX
                    row = i // NPX
                    spectrumArray[row][column][:] = numpy.fromfile(f, dtype=numpy.float32, count=NPT)
                    copied += NPT * 4
                elif transposed and not image_blocks:
                    spectrumArray[..., i] = numpy.fromfile(f, dtype=numpy.float32, count=NPY * NPX).reshape(
                        (NPY, NPX))
                    copied += NPY * NPX * 4
            check_result(copied, file_size, "map cube's recorded spectra")
            return Result("ImageDataReturn", dict(common, mapX=mapX, mapY=mapY, spectra=spectrumArray))

        if offsetToANNO != -1:
            annotations = getANNOTable(offsetToANNO)
            spectrum_regions = []
            map_groups = []
            for g in set(annotations["Group"]):
                g = int32(g)
                map_groups.append(annotations["Group"].index(g))
            if trace:
                traces, trace_labels = [], []
                for i, offset in enumerate(data_block_offsets.values()):
                    count_record(i)
                    f.seek(offset)
                    traces.append(numpy.fromfile(f, dtype=numpy.float32, count=NPT))
                    trace_labels.append(label(store_table))
                if traces and all(len(t) == len(traces[0]) for t in traces):
                    check_result(len(traces) * len(traces[0]) * 4, file_size, "trace rows")
                traces = numpy.vstack(traces)
            copied = 0
            for i in map_groups:
                if annotations["Type"][i] != 0:
                    continue
                group = annotations["Group"][i]
                NPX = annotations["AryNX"][i]
                NPY = annotations["AryNY"][i]
                NSPEC = NPX * NPY
                if NSPEC == 0 and annotations["AryType"][i] == 0:
                    NSPEC = annotations["Group"].count(group)
                    map_region = "Region {0} ({1} points)".format(group, NSPEC)
                else:
                    map_region = "Region {0} ({1} x {2})".format(group, NPX, NPY)
                if isinstance(NSPEC, int):
                    check_result(NSPEC * 8, file_size, "region points")
                mapX = numpy.zeros(NSPEC)
                mapY = numpy.zeros(NSPEC)
                if trace:
                    trace_array = numpy.zeros((NSPEC, traces.shape[0]), dtype=numpy.float32)
                    for row in range(NSPEC):
                        j = i + row
                        findex = annotations["Fileindex"][j]
                        mapX[row] = annotations["X"][j]
                        mapY[row] = annotations["Y"][j]
                        trace_array[row][:] = traces[:, findex - 1]
                        copied += traces.shape[0] * 4
                    spectrum_regions.append(dict(title=map_region, mapX=mapX, mapY=mapY, start_time=None,
                                                 spectra=trace_array))
                    continue
                start_time = numpy.zeros(NSPEC)
                specArray = numpy.zeros((NSPEC, NPT), dtype=numpy.float32)
                for row in range(NSPEC):
                    j = i + row
                    findex = annotations["Fileindex"][j]
                    if findex not in data_block_offsets:
                        continue
                    mapX[row] = annotations["X"][j]
                    mapY[row] = annotations["Y"][j]
                    f.seek(data_block_offsets[findex])
                    specArray[row][:] = numpy.fromfile(f, dtype=numpy.float32, count=NPT)
                    f.seek(136, 1)
                    start_time[row] = readDouble(f)
                    copied += NPT * 4 + 8
                spectrum_regions.append(dict(title=map_region, mapX=mapX, mapY=mapY, start_time=start_time,
                                             spectra=specArray))
            check_result(copied, file_size, "region values")
            if trace:
                return Result("MultiRegionTRCDataReturn", dict(common, labels=trace_labels, regions=spectrum_regions))
            return Result("MultiRegionDataReturn", dict(common, regions=spectrum_regions))

        if trace:
            traces, trace_labels = [], []
            for i, offset in enumerate(data_block_offsets.values()):
                count_record(i)
                f.seek(offset)
                traces.append(numpy.fromfile(f, dtype=numpy.float32, count=NPT))
                trace_labels.append(label(store_table))
            if traces and all(len(t) == len(traces[0]) for t in traces):
                check_result(len(traces) * len(traces[0]) * 4, file_size, "trace rows")
            return Result("TimeResolvedTRCDataReturn", dict(common, labels=trace_labels, traces=numpy.vstack(traces)))
        spectrum_list, z_list = [], []
        for i, offset in enumerate(data_block_offsets.values()):
            count_record(i)
            f.seek(offset)
            spectrum_list.append(numpy.fromfile(f, dtype=numpy.float32, count=NPT))
            f.seek(136, 1)
            z_list.append(readDouble(f))
        if spectrum_list:
            check_result(len(spectrum_list) * (NPT * 4 + 8), file_size, "series")
        spectra = numpy.vstack(spectrum_list)
        z_array = numpy.array(z_list)
        return Result("TimeResolvedDataReturn", dict(common, z=z_array, spectra=spectra))


def int32(g):
    """A region number as a signed 32-bit integer: ints in range pass, other objects raise."""
    import operator
    g = operator.index(g)
    if not -2**31 <= g < 2**31:
        raise OverflowError("value too large to convert to int")
    return g
