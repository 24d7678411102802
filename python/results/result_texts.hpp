// The texts the result classes carry: class docstrings, and the description
// lines each class contributes to an instance's `description`.
#pragma once

namespace kestrel::py::result_texts {

extern const char* const kBaseDoc;
extern const char* const kSingleDoc;
extern const char* const kImageDoc;
extern const char* const kImageTRCDoc;
extern const char* const kTimeResolvedDoc;
extern const char* const kTimeResolvedTRCDoc;
extern const char* const kRegionDoc;
extern const char* const kMultiRegionDoc;
extern const char* const kMultiRegionTRCDoc;
extern const char* const kBaseDescription;
extern const char* const kSingleDescription;
extern const char* const kImageDescription;
extern const char* const kImageTRCDescription;
extern const char* const kTimeResolvedDescription;
extern const char* const kTimeResolvedTRCDescription;
extern const char* const kMultiRegionDescription;
extern const char* const kMultiRegionTRCDescription;

}  // namespace kestrel::py::result_texts
