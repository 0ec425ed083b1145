// NXFlowWebAssets: the files of the live page (nxflow/web), compiled into the
// program as bytes (cmake/EmbedWebAssets.cmake writes the table at build
// time). The server answers only names of this table: no request ever names
// a file on disk.
#pragma once

#include <cstddef>
#include <string_view>

namespace nx::flow {

struct TWebAsset {
  std::string_view Name;         // "index.html", "app.js" ...
  std::string_view ContentType;  // "text/html; charset=utf-8" ...
  std::string_view Bytes;
};

// The asset of that exact name; null when there is none.
const TWebAsset* FindWebAsset(std::string_view AName) noexcept;

}  // namespace nx::flow
