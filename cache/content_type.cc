#include "cache/content_type.h"

#include "platform/text.h"

namespace tenvar::cache {

std::string_view ContentTypeFor(std::string_view fileName) {
  static constexpr struct {
    std::string_view Extension;
    std::string_view Type;
  } kTypes[] = {
      {".html", "text/html"},      {".htm", "text/html"},       {".txt", "text/plain"},
      {".css", "text/css"},        {".js", "text/javascript"},  {".json", "application/json"},
      {".xml", "text/xml"},        {".gif", "image/gif"},       {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},     {".png", "image/png"},       {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},    {".webp", "image/webp"},     {".pdf", "application/pdf"},
      {".zip", "application/zip"}, {".gz", "application/gzip"}, {".mp3", "audio/mpeg"},
      {".mp4", "video/mp4"},
  };
  const size_t slash = fileName.rfind('/');
  const std::string_view base =
      slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  for (const auto& entry : kTypes) {
    if (platform::EndsWithIgnoreCase(base, entry.Extension)) return entry.Type;
  }
  return "application/octet-stream";
}

}  // namespace tenvar::cache
