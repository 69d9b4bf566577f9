// Whole files: reading one, replacing one without ever leaving it half
// written, and finding the program's own folder.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// The whole file; EFOpenError or EReadError naming the file and the system's
// reason. A file larger than MaxSize raises EReadError before it is read.
std::string ReadWholeFile(const std::string& Path, size_t MaxSize);

// Writes Data to Path through a file beside it ("PATH.tmp"), flushed to
// disk, which Check (when given) may read and refuse before it is renamed
// over Path. On any failure the temporary file is removed, Path is left as
// it was, and the returned text says why; "" means Path holds Data now.
std::string ReplaceFile(const std::string& Path, std::string_view Data,
                        const std::function<bool(const std::string& Temp)>& Check = {});

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();
