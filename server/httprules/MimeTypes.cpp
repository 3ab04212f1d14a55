#include "server/httprules/MimeTypes.h"

#include "server/httprules/TextRules.h"
#include <string_view>

namespace Corvan
{
namespace HttpRules
{

namespace
{

struct CMimeEntry
{
    const char* extension;
    const char* type;
};

// Scripts must be text/javascript: browsers refuse module scripts of any other type.
const CMimeEntry MimeTable[] = {
    {"html", "text/html"},
    {"htm", "text/html"},
    {"xhtml", "application/xhtml+xml"},
    {"js", "text/javascript"},
    {"mjs", "text/javascript"},
    {"cjs", "text/javascript"},
    {"css", "text/css"},
    {"json", "application/json"},
    {"map", "application/json"},
    {"webmanifest", "application/manifest+json"},
    {"wasm", "application/wasm"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"apng", "image/apng"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"avif", "image/avif"},
    {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},
    {"otf", "font/otf"},
    {"txt", "text/plain"},
    {"md", "text/markdown"},
    {"csv", "text/csv"},
    {"xml", "application/xml"},
    {"pdf", "application/pdf"},
    {"mp4", "video/mp4"},
    {"webm", "video/webm"},
    {"ogv", "video/ogg"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"ogg", "audio/ogg"},
    {"oga", "audio/ogg"},
    {"flac", "audio/flac"},
    {"glb", "model/gltf-binary"},
    {"gltf", "model/gltf+json"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
};

} // namespace

const char* MimeType(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot != std::string::npos && fileName.find('/', dot) == std::string::npos)
    {
        const char* pExtension = fileName.c_str() + dot + 1;
        const std::size_t length = fileName.size() - dot - 1;
        for (const CMimeEntry& entry : MimeTable)
        {
            if (TextRules::EqualsNoCase(std::string_view(pExtension, length), entry.extension))
                return entry.type;
        }
    }
    return "application/octet-stream";
}

} // namespace HttpRules
} // namespace Corvan
