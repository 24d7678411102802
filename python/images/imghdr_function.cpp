// imghdr_what(h): the picture type of bytes in memory.
#include "images/picture_type.hpp"
#include "module/public_functions.hpp"

namespace kestrel::py {

namespace {

// Any other object gets the very operations (slices, ==, startswith) applied to
// it, so it matches or fails exactly as it would in Python.
Ref generic_picture_type(PyObject* h) {
  auto slice_equals = [&](Py_ssize_t start, Py_ssize_t stop, std::initializer_list<std::string_view> wanted) {
    Ref lo = start ? Ref::check(PyLong_FromSsize_t(start)) : Ref::borrow(Py_None);
    Ref hi = Ref::check(PyLong_FromSsize_t(stop));
    Ref slice = Ref::check(PySlice_New(lo.get(), hi.get(), nullptr));
    Ref part = Ref::check(PyObject_GetItem(h, slice.get()));
    for (std::string_view w : wanted) {
      Ref b = Ref::check(PyBytes_FromStringAndSize(w.data(), static_cast<Py_ssize_t>(w.size())));
      const int eq = PyObject_RichCompareBool(part.get(), b.get(), Py_EQ);
      check_status(eq);
      if (eq) return true;
    }
    return false;
  };
  auto starts_with = [&](std::string_view prefix) {
    Ref b = Ref::check(PyBytes_FromStringAndSize(prefix.data(), static_cast<Py_ssize_t>(prefix.size())));
    Ref r = Ref::check(PyObject_CallMethod(h, "startswith", "O", b.get()));
    const int truth = PyObject_IsTrue(r.get());
    check_status(truth);
    return truth != 0;
  };
  const char* result = nullptr;
  if (slice_equals(6, 10, {"JFIF", "Exif"}) || slice_equals(0, 4, {"\xFF\xD8\xFF\xDB"})) {
    result = "jpeg";
  } else if (starts_with("\x89PNG\r\n\x1A\n")) {
    result = "png";
  } else if (slice_equals(0, 6, {"GIF87a", "GIF89a"})) {
    result = "gif";
  } else if (starts_with("BM")) {
    result = "bmp";
  }
  return result ? Ref::check(PyUnicode_FromString(result)) : Ref::borrow(Py_None);
}

Ref imghdr_what_impl(std::span<PyObject* const> args) {
  PyObject* h = args[0];
  std::string_view data;
  if (PyBytes_CheckExact(h)) {
    data = {PyBytes_AS_STRING(h), static_cast<std::size_t>(PyBytes_GET_SIZE(h))};
  } else if (PyByteArray_CheckExact(h)) {
    data = {PyByteArray_AS_STRING(h), static_cast<std::size_t>(PyByteArray_GET_SIZE(h))};
  } else {
    return generic_picture_type(h);
  }
  const auto type = picture_type(data);
  return type ? Ref::check(PyUnicode_FromStringAndSize(type->data(), static_cast<Py_ssize_t>(type->size())))
              : Ref::borrow(Py_None);
}

}  // namespace

const FunctionSpec kImghdrWhatFunction = {
    "imghdr_what",
    "Simplified version of imghdr.what()",
    {"h", nullptr},
    imghdr_what_impl,
    nullptr,
};

}  // namespace kestrel::py
