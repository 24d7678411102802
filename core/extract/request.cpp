#include "extract/request.hpp"

#include <array>
#include <string_view>

#include "container/names.hpp"

namespace kestrel {

namespace {

struct TypeRow {
  std::string_view name;
  int data_code;
  int sample;
};

// The accepted names; each also has a second-channel twin, name + "-CH2", whose code is 32 higher.
constexpr std::array<TypeRow, 20> kTypeRows = {{
    {"REFL", 12, -1}, {"RAM", 10, -1},  {"SPOW", 14, 1},  {"RPOW", 14, 2},  {"RPH", 3, 2},
    {"SPH", 3, 1},    {"PAS", 17, -1},  {"LREFL", 15, -1}, {"KM", 6, -1},   {"SIFG", 2, 1},
    {"RIFG", 2, 2},   {"TR", 5, -1},    {"EMIS", 11, -1}, {"ATR", 16, -1},  {"TRARI", 18, -1},
    {"ABARI", 19, -1}, {"AB", 4, -1},   {"TRC", 7, -1},   {"SSC", 1, 1},    {"RSC", 1, 2},
}};

const TypeRow* find_type(std::string_view name, int& code_shift) {
  code_shift = 0;
  if (name.ends_with("-CH2")) {
    name.remove_suffix(4);
    code_shift = kSecondChannelShift;
  }
  for (const TypeRow& row : kTypeRows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

std::string framed(const MessageFrame& frame, std::string_view value) {
  std::string text(frame.before);
  text += value;
  text += frame.after;
  return text;
}

}  // namespace

const MessageFrame kBadDimensionsMessage{"Incorrect dimensions: ", ". Dimensions need to be either 2D or 3D"};
const MessageFrame kBadTypeMessage{
    "Invalid data block type: ",
    ". Please enter a valid entry from the following: "
    "REFL, RAM, SPOW, RPOW, SPH, RPH, PAS, LREFL, KM, SIFG, RIFG, TR, EMIS, ATR, TRARI, ABARI, AB, TRC, SSC, RSC"};
const MessageFrame kBadDerivMessage{"Invalid deriv type: ",
                                    ".  Please select from the following: 1DER, 2DER, NDER or NONE"};

std::vector<std::string> request_type_names() {
  std::vector<std::string> names;
  for (const TypeRow& row : kTypeRows) names.emplace_back(row.name);
  for (const TypeRow& row : kTypeRows) names.push_back(std::string(row.name) + "-CH2");
  return names;
}

Result<Request> check_request(std::string type, std::string dimensions, std::string deriv) {
  if (dimensions != "2D" && dimensions != "3D") {
    return Error::value(framed(kBadDimensionsMessage, dimensions));
  }
  int shift = 0;
  const TypeRow* row = find_type(type, shift);
  if (row == nullptr) {
    return Error::value(framed(kBadTypeMessage, type));
  }
  int derivative = -1;
  for (std::size_t i = 0; i < kDerivativeNames.size(); ++i) {
    if (kDerivativeNames[i] == deriv) derivative = static_cast<int>(i);
  }
  if (derivative < 0) {
    return Error::value(framed(kBadDerivMessage, deriv));
  }
  Request request;
  request.data_code = row->data_code + shift;
  request.sample = row->sample;
  request.derivative = derivative;
  request.extend = dimensions == "3D" ? 10 : 0;
  request.type = std::move(type);
  request.dimensions = std::move(dimensions);
  request.deriv = std::move(deriv);
  return request;
}

}  // namespace kestrel
