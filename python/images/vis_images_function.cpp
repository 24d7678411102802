// getVisImages(path): every picture of the image block, one dict each.
#include <map>

#include "images/vis_images.hpp"
#include "io/cursor.hpp"
#include "module/argument_checks.hpp"
#include "module/public_functions.hpp"
#include "py/errors.hpp"
#include "py/opened_file.hpp"
#include "py/values.hpp"

namespace kestrel::py {

namespace {

void set_item(PyObject* dict, std::string_view key, PyObject* value) {
  Ref k = text_to_str(key);
  check_status(PyDict_SetItem(dict, k.get(), value));
}

// Pictures that share their bytes in the core share one bytes object.
using BytesObjects = std::map<const std::string*, Ref>;

// The dict of one picture: attributes in order, then "image" and "imgext",
// which take the place of attributes of the same name as dict assignment does.
// The core's copy of the bytes is freed once Python holds its own.
Ref picture_to_dict(Picture& picture, BytesObjects& bytes_objects) {
  Ref dict = Ref::check(PyDict_New());
  for (const auto& [name, value] : picture.attributes.items()) {
    set_item(dict.get(), name, to_python(value).get());
  }
  if (picture.data) {
    Ref& image = bytes_objects[picture.data->bytes.get()];
    if (!image) {
      const std::string& bytes = *picture.data->bytes;
      image = Ref::check(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    }
    picture.data->bytes.reset();
    set_item(dict.get(), "image", image.get());
    const auto& type = picture.data->type;
    Ref imgext = type ? Ref::check(PyUnicode_FromStringAndSize(type->data(), static_cast<Py_ssize_t>(type->size())))
                      : Ref::borrow(Py_None);
    set_item(dict.get(), "imgext", imgext.get());
  }
  return dict;
}

Ref get_vis_images_impl(std::span<PyObject* const> args) {
  require_str_or_none(args[0], "path");
  OpenedFile file(args[0]);
  Cursor cursor(file.source());
  std::vector<Picture> pictures = unwrap(read_vis_images(cursor));
  file.close();
  Ref list = Ref::check(PyList_New(0));
  BytesObjects bytes_objects;
  for (Picture& picture : pictures) {
    check_status(PyList_Append(list.get(), picture_to_dict(picture, bytes_objects).get()));
  }
  return list;
}

}  // namespace

const FunctionSpec kGetVisImagesFunction = {
    "getVisImages",
    "\n    This function returns a list containing a dictionary for each visible image\n    in the given file.\n\n"
    "    Args:\n        path (path):       Path to file\n\n"
    "    Returns:\n        List containing a dictionary for each visible image in the file.\n\n"
    "        Each dictionary contains:\n\n"
    "        {'image': bytes(),          # Image data\n"
    "         'imgext': 'bmp',           # Image type ('bmp' or 'jpeg')\n"
    "         'Pos. X': 33733.0}         # Useful image attributes\n    ",
    {"path", nullptr},
    get_vis_images_impl,
    nullptr,
};

}  // namespace kestrel::py
