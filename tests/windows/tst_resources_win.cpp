// The tool's Windows resources as the cross compiler builds them from Resources/CorvanHTMLStarter.rc:
// one icon group of five images, one manifest that asks for the caller's rights and nothing else.
// Plain C++; ends with "N passed, M failed".

#include "WinTestSupport.h"

#include <cstring>
#include <set>
#include <string>

using namespace Corvan::WinTest;

namespace
{

const WORD NeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
const WORD EnglishUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

#pragma pack(push, 2)
// The layout of an icon group resource (it has no declaration in the Windows headers).
struct GroupIconEntry
{
    BYTE width; // 0 means 256
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct GroupIconHeader
{
    WORD reserved;
    WORD type;
    WORD count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

std::string ResourceBytes(LPCSTR type, LPCSTR name, WORD language)
{
    const HRSRC found = FindResourceExA(nullptr, type, name, language);
    if (!found)
        return std::string();
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? std::string(static_cast<const char*>(data), SizeofResource(nullptr, found)) : std::string();
}

void TestIconGroup()
{
    const std::string group = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEA(101), NeutralLanguage);
    Check(group.size() >= sizeof(GroupIconHeader), "icon group 101, language neutral, exists");
    if (group.size() < sizeof(GroupIconHeader))
        return;
    GroupIconHeader header;
    std::memcpy(&header, group.data(), sizeof(header));
    const int sizes[] = {16, 24, 32, 48, 256};
    const WORD count = sizeof(sizes) / sizeof(sizes[0]);
    Check(header.count == count, "icon group holds five images", std::to_string(header.count));
    if (header.count != count || group.size() < 6 + count * sizeof(GroupIconEntry))
        return;

    for (WORD i = 0; i < count; ++i)
    {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof(GroupIconEntry), sizeof(entry));
        const int size = entry.width == 0 ? 256 : entry.width;
        const std::string what = "icon " + std::to_string(i + 1);
        Check(size == sizes[i], what + ": size", std::to_string(size));
        Check(entry.id == i + 1, what + ": icon resource id", std::to_string(entry.id));
        Check(entry.bitCount == 32, what + ": 32 bits per pixel", std::to_string(entry.bitCount));

        const std::string image = ResourceBytes(RT_ICON, MAKEINTRESOURCEA(entry.id), NeutralLanguage);
        Check(image.size() == entry.bytesInResource, what + ": image stored");
        if (size == 256)
        {
            Check(image.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0, what + ": stored as PNG");
        }
        else if (image.size() >= sizeof(BITMAPINFOHEADER))
        {
            BITMAPINFOHEADER bitmap;
            std::memcpy(&bitmap, image.data(), sizeof(bitmap));
            // The height counts the colour bitmap and the 1-bit mask under it.
            Check(bitmap.biSize == sizeof(BITMAPINFOHEADER) && bitmap.biWidth == size && bitmap.biHeight == 2 * size &&
                      bitmap.biBitCount == 32,
                  what + ": 32-bit bitmap with mask");
        }
        else
        {
            Check(false, what + ": bitmap header");
        }
    }

    // The shell asks for the icon by size; both ends of the range, and 200 % of the small one, must load.
    for (int size : {16, 32, 256})
    {
        const HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), IMAGE_ICON, size, size, 0);
        Check(icon != nullptr, "icon loads at " + std::to_string(size) + " pixels");
        if (icon)
            DestroyIcon(static_cast<HICON>(icon));
    }
}

void TestManifest()
{
    const std::string manifest = ResourceBytes(RT_MANIFEST, MAKEINTRESOURCEA(1), EnglishUnitedStates);
    Check(!manifest.empty(), "manifest 1, English (United States), exists");
    Check(manifest.find("urn:schemas-microsoft-com:asm.v1") != std::string::npos &&
              manifest.find("manifestVersion=\"1.0\"") != std::string::npos,
          "manifest is an assembly manifest, version 1.0");
    Check(manifest.find("urn:schemas-microsoft-com:asm.v3") != std::string::npos &&
              manifest.find("level=\"asInvoker\"") != std::string::npos &&
              manifest.find("uiAccess=\"false\"") != std::string::npos,
          "manifest runs the tool with the caller's rights");
    for (const char* absent : {"dependentAssembly", "compatibility", "application", "dpiAware"})
        Check(manifest.find(absent) == std::string::npos, std::string("manifest declares no ") + absent);
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR types)
{
    if (IS_INTRESOURCE(type))
        reinterpret_cast<std::set<ULONG_PTR>*>(types)->insert(reinterpret_cast<ULONG_PTR>(type));
    else
        reinterpret_cast<std::set<ULONG_PTR>*>(types)->insert(~ULONG_PTR(0)); // a named type: never ours
    return TRUE;
}

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

// The languages a resource is stored in. Looking it up by language is no test of that: the lookup
// falls back to the neutral language.
std::set<WORD> Languages(LPCSTR type, LPCSTR name)
{
    std::set<WORD> languages;
    EnumResourceLanguagesA(nullptr, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

void TestNothingElse()
{
    // Also guards against the tool chain adding a manifest of its own beside ours.
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(nullptr, CollectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<ULONG_PTR> expected = {reinterpret_cast<ULONG_PTR>(RT_ICON),
                                          reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON),
                                          reinterpret_cast<ULONG_PTR>(RT_MANIFEST)};
    Check(types == expected, "only icons, the icon group and the manifest", std::to_string(types.size()) + " types");

    int manifests = 0;
    EnumResourceNamesA(nullptr, RT_MANIFEST, CountName, reinterpret_cast<LONG_PTR>(&manifests));
    Check(manifests == 1, "exactly one manifest");
    Check(Languages(RT_MANIFEST, MAKEINTRESOURCEA(1)) == std::set<WORD>{EnglishUnitedStates},
          "manifest stored in English (United States) only");
    int groups = 0;
    EnumResourceNamesA(nullptr, RT_GROUP_ICON, CountName, reinterpret_cast<LONG_PTR>(&groups));
    Check(groups == 1, "exactly one icon group");
    Check(Languages(RT_GROUP_ICON, MAKEINTRESOURCEA(101)) == std::set<WORD>{NeutralLanguage},
          "icon group stored language neutral only");
}

} // namespace

int main()
{
    TestIconGroup();
    TestManifest();
    TestNothingElse();
    return Summary();
}
