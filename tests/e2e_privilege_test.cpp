// What each executable declares before it runs: its manifest and version data.
// (What zelkctl says when the account may read the settings but not change
// them is in e2e_zelkctl_test.)
#include <windows.h>

#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

// Windows Vista, 7, 8, 8.1, and 10 and 11.
const char* const kSupportedOsIds[] = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

BOOL CALLBACK CountLanguagesOfName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR count) {
  return EnumResourceLanguagesA(module, type, name, CountLanguage, count);
}

std::string ManifestText(HMODULE module) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return text ? std::string(text, SizeofResource(module, found)) : std::string();
}

// The run level as the system's own manifest parser reads it from the file.
ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION RunLevel(const std::string& path) {
  ACTCTXA request = {sizeof(request), ACTCTX_FLAG_RESOURCE_NAME_VALID, path.c_str(), 0, 0, nullptr,
                     MAKEINTRESOURCEA(1), nullptr, nullptr};
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
  HANDLE context = CreateActCtxA(&request);
  EXPECT_NE(INVALID_HANDLE_VALUE, context) << GetLastError();
  if (context == INVALID_HANDLE_VALUE) return level;
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level,
                           sizeof(level), nullptr));
  ReleaseActCtx(context);
  return level;
}

std::string Quad(DWORD most, DWORD least) {
  return std::to_string(HIWORD(most)) + "." + std::to_string(LOWORD(most)) + "." +
         std::to_string(HIWORD(least)) + "." + std::to_string(LOWORD(least));
}

std::string VersionString(const std::vector<char>& data, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
  return VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)
             ? std::string(text, length ? length - 1 : 0)
             : "(none)";
}

// One manifest (each name in each language counted) for the five systems,
// as invoker, without a code page; file and product version the project's.
TEST(ExecutableResourcesTest, OneManifestAsInvokerAndTheProjectVersion) {
  const std::string version = ZELK_PROJECT_VERSION;
  for (const char* name : {"ZelkAdmin.exe", "zelkctl.exe"}) {
    SCOPED_TRACE(name);
    const std::string path = TestFolder() + name;
    UniqueLibrary module(LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module.is_valid());
    int manifests = 0;
    EnumResourceNamesA(module.get(), RT_MANIFEST, CountLanguagesOfName,
                       reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(1, manifests);
    const std::string manifest = ManifestText(module.get());
    for (const char* id : kSupportedOsIds) {
      EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id=\"" + std::string(id))) << id;
    }
    EXPECT_EQ(std::string::npos, manifest.find("activeCodePage"));
    const ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = RunLevel(path);
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level.RunLevel);
    EXPECT_EQ(0u, level.UiAccess);

    std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), nullptr));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, data.size(), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(std::vector<std::string>({version + ".0", version + ".0", version, version}),
              std::vector<std::string>({Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
                                        Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS),
                                        VersionString(data, "FileVersion"),
                                        VersionString(data, "ProductVersion")}));
  }
}

}  // namespace
}  // namespace zelk
