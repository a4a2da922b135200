// The name of a converted soft font file. The library writes the converted
// file under this name and the program looks for it under the same name, so
// both must use this one function.
#pragma once

#include <string>
#include <string_view>

namespace velquin {

// Beside the input: the same folder, the file name with its last extension
// replaced by ".QKS", or ".QKS" appended when the name has none. Only the last
// path component can hold an extension; a leading dot (".hidden") does not
// start one. Case is kept: Linux file names are case-sensitive.
inline std::string convertedFileName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view name = path.substr(nameStart);
    std::size_t stemLength = name.size();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name != "..") stemLength = dot;
    std::string converted(path.substr(0, nameStart + stemLength));
    converted += ".QKS";
    return converted;
}

}  // namespace velquin
