// What the shipped RAVoduza.exe carries for Windows and Explorer, read back
// through the resource API, and what it imports.
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace rvztest {
namespace {

std::wstring ShippedLoader() { return RAVODUZA_SHIPPED_DIR L"RAVoduza.exe"; }

// Copies of the source files that the executable embeds, beside this test.
std::string SourceFile(const wchar_t* name) { return ReadFileBytes(TestProgramFolder() + name); }

template <typename T>
T Read(const std::string& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

class LoaderResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadAsData(ShippedLoader());
        ASSERT_TRUE(module_) << "cannot open " << Utf8(ShippedLoader());
    }

    // The bytes of one resource; empty when it is missing.
    std::string Resource(WORD type, WORD id, WORD language) const {
        HRSRC found = ::FindResourceExW(module_.get(), MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
        if (!found) return {};
        const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module_.get(), found)));
        return std::string(data, ::SizeofResource(module_.get(), found));
    }

    rvz::UniqueModule module_;
};

using Entry = std::tuple<WORD, WORD, WORD>;  // type, id, language

struct Listing {
    std::set<Entry> entries;
    bool onlyNumbers = true;  // no resource has a name or type given as text
};

BOOL CALLBACK ListLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR context) {
    reinterpret_cast<Listing*>(context)->entries.insert(
        {static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type)), static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)),
         language});
    return TRUE;
}

BOOL CALLBACK ListName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    reinterpret_cast<Listing*>(context)->onlyNumbers &= IS_INTRESOURCE(name) != 0;
    ::EnumResourceLanguagesW(module, type, name, ListLanguage, context);
    return TRUE;
}

BOOL CALLBACK ListType(HMODULE module, LPWSTR type, LONG_PTR context) {
    reinterpret_cast<Listing*>(context)->onlyNumbers &= IS_INTRESOURCE(type) != 0;
    ::EnumResourceNamesW(module, type, ListName, context);
    return TRUE;
}

constexpr WORD kNeutral = 0;
constexpr WORD kGerman = 1031;
constexpr WORD kEnglish = 1033;

TEST_F(LoaderResources, ExactlyTheListedResources) {
    Listing listing;
    ::EnumResourceTypesW(module_.get(), ListType, reinterpret_cast<LONG_PTR>(&listing));
    EXPECT_TRUE(listing.onlyNumbers);
    std::set<Entry> expected{{2, 1, kNeutral},      {3, 30001, kNeutral}, {3, 30002, kNeutral},
                             {14, 1, kNeutral},     {16, 1, kGerman},     {24, 1, kEnglish}};
    for (WORD block : {1, 7, 13, 19, 26, 32})
        for (WORD language : {kGerman, kEnglish}) expected.insert({6, block, language});
    EXPECT_EQ(listing.entries, expected);
}

TEST_F(LoaderResources, ManifestAsksForAdministratorRightsAndNothingElse) {
    const std::string manifest = Resource(24, 1, kEnglish);
    EXPECT_EQ(manifest.size(), 709u);
    EXPECT_EQ(manifest, SourceFile(L"RAVoduza.manifest")) << "byte for byte the file in resources/";
    EXPECT_EQ(manifest.substr(0, 3), "\xEF\xBB\xBF") << "UTF-8 with a byte-order mark";
    size_t lineEnds = 0;
    for (size_t i = 0; i < manifest.size(); ++i) {
        if (manifest[i] != '\n') continue;
        ++lineEnds;
        EXPECT_TRUE(i > 0 && manifest[i - 1] == '\r') << "a bare line feed at " << i;
    }
    EXPECT_EQ(lineEnds, 17u);
    EXPECT_EQ(manifest.substr(manifest.size() - 11), "</assembly>") << "no line break after the last line";
    EXPECT_NE(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("<!-- Windows Vista -->\r\n      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<!-- Windows 7 -->\r\n      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"),
              std::string::npos);
    for (const char* absent : {"dependency", "Common-Controls", "dpiAware", "assemblyIdentity", "\t"})
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
}

// A build that asks for rights only to install: the same manifest, asking
// for none, so that starting the installed product shows no prompt.
TEST(LoaderResourcesOfTheInstallOnlyBuild, ManifestAsksForNoRights) {
    const rvz::UniqueModule module = LoadAsData(BuildFolder() + L"tests\\installdist\\RAVoduza.exe");
    ASSERT_TRUE(module);
    HRSRC found = ::FindResourceExW(module.get(), MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kEnglish);
    ASSERT_TRUE(found);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module.get(), found)));
    const std::string manifest(data, ::SizeofResource(module.get(), found));
    std::string expected = SourceFile(L"RAVoduza.manifest");
    const std::string asked = "requireAdministrator";
    expected.replace(expected.find(asked), asked.size(), "asInvoker");
    EXPECT_EQ(manifest, expected);
}

// One node of a version record: length, value length, type, key, value and
// children, each aligned to four bytes from the start of the record.
struct VersionNode {
    std::wstring key;
    std::string value;
    bool text = false;
    std::vector<VersionNode> children;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// Parses the node at offset; records in errors whatever breaks the layout.
VersionNode ParseVersionNode(const std::string& bytes, size_t offset, std::vector<std::string>& errors) {
    VersionNode node;
    const size_t length = Read<WORD>(bytes, offset);
    const size_t valueLength = Read<WORD>(bytes, offset + 2);
    node.text = Read<WORD>(bytes, offset + 4) == 1;
    const size_t end = offset + length;
    if (length < 6 || end > bytes.size()) {
        errors.push_back("node length out of range at " + std::to_string(offset));
        return node;
    }
    size_t position = offset + 6;
    while (position + 1 < end && Read<wchar_t>(bytes, position) != L'\0') {
        node.key += Read<wchar_t>(bytes, position);
        position += 2;
    }
    position = Align4(position + 2);
    const size_t valueBytes = node.text ? valueLength * 2 : valueLength;
    node.value = bytes.substr(position, valueBytes);
    position = Align4(position + valueBytes);
    while (position < end) {
        node.children.push_back(ParseVersionNode(bytes, position, errors));
        position = Align4(position + Read<WORD>(bytes, position));
    }
    if (position != Align4(end)) errors.push_back("children overrun " + Utf8(node.key));
    return node;
}

std::wstring TextValue(const VersionNode& node) {
    std::wstring text(node.value.size() / 2, L'\0');
    std::memcpy(text.data(), node.value.data(), text.size() * 2);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

TEST_F(LoaderResources, VersionRecordInGermanWithTheTranslationFirst) {
    const std::string record = Resource(16, 1, kGerman);
    ASSERT_FALSE(record.empty());
    std::vector<std::string> errors;
    const VersionNode root = ParseVersionNode(record, 0, errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Read<WORD>(record, 0), record.size()) << "the record is the whole resource";
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");

    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS | fixed.dwFileDateLS, 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& translations = root.children[0];
    EXPECT_EQ(translations.key, L"VarFileInfo") << "the translation block comes first";
    ASSERT_EQ(translations.children.size(), 1u);
    EXPECT_EQ(translations.children[0].key, L"Translation");
    EXPECT_EQ(translations.children[0].value, std::string("\x07\x04\xB0\x04", 4)) << "0407, 04B0";

    const VersionNode& strings = root.children[1];
    EXPECT_EQ(strings.key, L"StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    EXPECT_EQ(strings.children[0].key, L"040704B0");
    std::vector<std::pair<std::wstring, std::wstring>> texts;
    for (const VersionNode& text : strings.children[0].children) {
        EXPECT_TRUE(text.text) << Utf8(text.key);
        texts.emplace_back(text.key, TextValue(text));
    }
    const std::vector<std::pair<std::wstring, std::wstring>> expected{
        {L"CompanyName", L"Brisolt"},  {L"ProductName", L"Tarvik"},    {L"FileVersion", L"1.00"},
        {L"ProductVersion", L"1.00"}, {L"InternalName", L"RAVoduza"}, {L"OriginalFilename", L"RAVoduza.exe"}};
    EXPECT_EQ(texts, expected) << "exactly these six keys, in this order";
}

// The download library names itself too, so that Explorer shows what it is.
TEST(DownloadLibraryResources, VersionRecordNamesBrisoltAndTarvik) {
    const std::wstring library = RAVODUZA_SHIPPED_DIR L"RAVoduza_Download.dll";
    const rvz::UniqueModule module = LoadAsData(library);
    ASSERT_TRUE(module);
    HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module.get(), found)));
    const std::string record(data, ::SizeofResource(module.get(), found));
    std::vector<std::string> errors;
    const VersionNode root = ParseVersionNode(record, 0, errors);
    EXPECT_TRUE(errors.empty());

    std::map<std::wstring, std::wstring> texts;
    for (const VersionNode& block : root.children)
        if (block.key == L"StringFileInfo" && !block.children.empty())
            for (const VersionNode& text : block.children[0].children) texts[text.key] = TextValue(text);
    EXPECT_EQ(texts[L"CompanyName"], L"Brisolt");
    EXPECT_EQ(texts[L"ProductName"], L"Tarvik");
    EXPECT_EQ(texts[L"OriginalFilename"], L"RAVoduza_Download.dll");
    EXPECT_FALSE(texts[L"FileDescription"].empty());
}

// A group icon directory entry as resources store it.
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(LoaderResources, IconGroupOfTwoEightBitImages) {
    const std::string group = Resource(14, 1, kNeutral);
    ASSERT_EQ(group.size(), 34u);
    EXPECT_EQ(Read<WORD>(group, 0), 0);
    EXPECT_EQ(Read<WORD>(group, 2), 1) << "an icon, not a cursor";
    ASSERT_EQ(Read<WORD>(group, 4), 2);

    const std::string icon = SourceFile(L"RAVoduza.ico");
    struct Expected {
        int size;
        DWORD bytes;
        WORD id;
    };
    const Expected images[] = {{32, 2216, 30001}, {16, 1384, 30002}};
    for (int i = 0; i < 2; ++i) {
        const auto entry = Read<GroupIconEntry>(group, 6 + 14 * static_cast<size_t>(i));
        const Expected& want = images[i];
        EXPECT_EQ(entry.width, want.size);
        EXPECT_EQ(entry.height, want.size);
        EXPECT_EQ(entry.colours, 0) << "0 means 256";
        EXPECT_EQ(entry.planes, 1);
        EXPECT_EQ(entry.bitCount, 8);
        EXPECT_EQ(entry.bytes, want.bytes);
        EXPECT_EQ(entry.id, want.id);

        const std::string image = Resource(3, want.id, kNeutral);
        ASSERT_EQ(image.size(), want.bytes);
        const auto header = Read<BITMAPINFOHEADER>(image, 0);
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, want.size);
        EXPECT_EQ(header.biHeight, 2 * want.size) << "colour rows and mask";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 8);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        const size_t maskStride = (static_cast<size_t>(want.size) + 31) / 32 * 4;
        EXPECT_EQ(image.size(), 40 + 1024 + static_cast<size_t>(want.size * want.size) + maskStride * want.size);
        // The same image as in the icon file that make_artwork.py wrote.
        EXPECT_EQ(image, icon.substr(Read<DWORD>(icon, 6 + 16 * static_cast<size_t>(i) + 12), want.bytes));
    }
}

TEST_F(LoaderResources, WizardPictureAsDrawn) {
    const std::string picture = Resource(2, 1, kNeutral);
    const std::string file = SourceFile(L"setup.bmp");
    ASSERT_EQ(file.size(), 52574u);
    EXPECT_EQ(picture, file.substr(14)) << "the bitmap file without its 14-byte file header";
    const auto header = Read<BITMAPINFOHEADER>(picture, 0);
    EXPECT_EQ(header.biWidth, 164);
    EXPECT_EQ(header.biHeight, 314) << "rows bottom-up";
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biXPelsPerMeter, 2834);
    EXPECT_EQ(header.biYPelsPerMeter, 2834);
}

// The ids with a text in one language's string table.
std::set<UINT> StringIds(HMODULE module, WORD language) {
    std::set<UINT> ids;
    for (UINT block = 1; block <= 4096; ++block) {
        HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
        if (!found) continue;
        const auto* entry = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, found)));
        for (UINT index = 0; index < 16; entry += 1 + *entry, ++index)
            if (*entry) ids.insert((block - 1) * 16 + index);
    }
    return ids;
}

TEST_F(LoaderResources, EveryStringIdInBothLanguages) {
    const std::set<UINT> german = StringIds(module_.get(), kGerman);
    const std::set<UINT> english = StringIds(module_.get(), kEnglish);
    EXPECT_EQ(german, english);
    const std::set<UINT> used{1,   100, 101, 110, 200, 290, 291, 292, 293, 294, 295, 296, 297,
                              298, 299, 300, 301, 302, 400, 401, 402, 403, 404, 410, 411, 500};
    EXPECT_EQ(english, used);
}

// The loader's PE image: headers and the DLLs it imports.
struct PeImage {
    std::string bytes;
    size_t header = 0;

    explicit PeImage(const std::wstring& path) : bytes(ReadFileBytes(path)), header(Read<DWORD>(bytes, 0x3C)) {}

    const IMAGE_FILE_HEADER File() const { return Read<IMAGE_FILE_HEADER>(bytes, header + 4); }
    const IMAGE_OPTIONAL_HEADER32 Optional() const {
        return Read<IMAGE_OPTIONAL_HEADER32>(bytes, header + 4 + sizeof(IMAGE_FILE_HEADER));
    }
    size_t Offset(DWORD rva) const {
        const size_t sections = header + 4 + sizeof(IMAGE_FILE_HEADER) + File().SizeOfOptionalHeader;
        for (WORD i = 0; i < File().NumberOfSections; ++i) {
            const auto section = Read<IMAGE_SECTION_HEADER>(bytes, sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.Misc.VirtualSize)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return bytes.size();
    }
    // The code page of every resource data entry, walking the directory tree.
    std::vector<DWORD> ResourceCodePages() const {
        std::vector<DWORD> pages;
        const size_t base = Offset(Optional().DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress);
        CollectCodePages(base, base, pages);
        return pages;
    }
    void CollectCodePages(size_t base, size_t directory, std::vector<DWORD>& pages) const {
        const auto header = Read<IMAGE_RESOURCE_DIRECTORY>(bytes, directory);
        const size_t count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
        for (size_t i = 0; i < count; ++i) {
            const DWORD target = Read<DWORD>(bytes, directory + sizeof(header) + i * 8 + 4);
            if (target & 0x80000000)
                CollectCodePages(base, base + (target & 0x7FFFFFFF), pages);
            else
                pages.push_back(Read<IMAGE_RESOURCE_DATA_ENTRY>(bytes, base + target).CodePage);
        }
    }
    std::set<std::string> Imports() const {
        std::set<std::string> names;
        const DWORD table = Optional().DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (size_t at = Offset(table);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto descriptor = Read<IMAGE_IMPORT_DESCRIPTOR>(bytes, at);
            if (descriptor.Name == 0) break;
            std::string name = bytes.c_str() + Offset(descriptor.Name);
            for (char& c : name) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
            names.insert(name);
        }
        return names;
    }
};

TEST(LoaderImage, EveryResourceNamesUtf16AsItsCodePage) {
    const std::vector<DWORD> pages = PeImage(ShippedLoader()).ResourceCodePages();
    EXPECT_EQ(pages.size(), 18u) << "twelve string blocks, manifest, version, icon group, two icons, picture";
    for (DWORD page : pages) EXPECT_EQ(page, 1200u);
}

// What the loader loads at its start: no window library, which only the
// not-installed road needs (it loads user32 and gdi32 on first use).
TEST(LoaderImage, ThirtyTwoBitGuiProgramImportingOnlySystemLibraries) {
    const PeImage image(ShippedLoader());
    ASSERT_EQ(image.bytes.substr(0, 2), "MZ");
    ASSERT_EQ(image.bytes.substr(image.header, 4), std::string("PE\0\0", 4));
    EXPECT_EQ(image.File().Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.Optional().Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.Optional().Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const std::set<std::string> imports = image.Imports();
    EXPECT_EQ(imports, (std::set<std::string>{"kernel32.dll", "advapi32.dll", "msvcrt.dll"}));
}

}  // namespace
}  // namespace rvztest
