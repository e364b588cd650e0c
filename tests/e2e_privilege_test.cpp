// What each executable declares before it runs (its manifest and version data),
// and what zelkctl says when the account may read the settings but not change them.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "tests/hardening_e2e.h"

namespace zelk {
namespace {

using namespace zelk::testing;

const char* const kExecutables[] = {"ZelkAdmin.exe", "zelkctl.exe"};

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

// Every manifest resource, each name in each language.
int ManifestCount(HMODULE module) {
  int count = 0;
  EnumResourceNamesA(module, RT_MANIFEST, CountLanguagesOfName, reinterpret_cast<LONG_PTR>(&count));
  return count;
}

std::string ManifestText(HMODULE module) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return text ? std::string(text, SizeofResource(module, found)) : std::string();
}

// The run level as the system's own manifest parser reads it from the file.
ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION RunLevel(const std::string& path) {
  ACTCTXA request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path.c_str();
  request.lpResourceName = MAKEINTRESOURCEA(1);
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
  HANDLE context = CreateActCtxA(&request);
  EXPECT_NE(INVALID_HANDLE_VALUE, context) << path << ": " << GetLastError();
  if (context == INVALID_HANDLE_VALUE) return level;
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level,
                           sizeof(level), nullptr));
  ReleaseActCtx(context);
  return level;
}

TEST(ExecutableResourcesTest, OneManifestAsInvokerForTheFiveSystemsWithoutCodePage) {
  for (const char* name : kExecutables) {
    const std::string path = TestFolder() + name;
    UniqueLibrary module(LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module.is_valid()) << path;
    const std::string manifest = ManifestText(module.get());
    EXPECT_EQ(1, ManifestCount(module.get())) << name;
    for (const char* id : kSupportedOsIds) {
      EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id=\"" + std::string(id))) << id;
    }
    EXPECT_EQ(std::string::npos, manifest.find("activeCodePage")) << name;
    const ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = RunLevel(path);
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level.RunLevel) << name;
    EXPECT_EQ(0u, level.UiAccess) << name;
  }
}

std::string Quad(DWORD most, DWORD least) {
  return std::to_string(HIWORD(most)) + "." + std::to_string(LOWORD(most)) + "." +
         std::to_string(HIWORD(least)) + "." + std::to_string(LOWORD(least));
}

std::string VersionString(const std::vector<char>& data, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
  if (!VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) {
    return "(none)";
  }
  return std::string(text, length ? length - 1 : 0);
}

TEST(ExecutableResourcesTest, VersionIsTheProjectVersion) {
  const std::string version = ZELK_PROJECT_VERSION;
  for (const char* name : kExecutables) {
    const std::string path = TestFolder() + name;
    std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), nullptr));
    ASSERT_FALSE(data.empty()) << name;
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, data.size(), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    const std::vector<std::string> found = {
        Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
        Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS),
        VersionString(data, "FileVersion"), VersionString(data, "ProductVersion")};
    EXPECT_EQ(std::vector<std::string>({version + ".0", version + ".0", version, version}), found)
        << name;
  }
}

// zelkctl's exit code and its error output, taken through a file: a pipe would
// wait for the server to quit. The caller runs the server: one that zelkctl
// started would hold the file open.
DWORD RunZelkctl(const std::string& arguments, std::string* err) {
  const std::string err_path = TestFolder() + "privilege_err.txt";
  const DWORD exit_code = RunAndWait("cmd /c \"\"" + TestFolder() + "zelkctl.exe\" " + arguments +
                                     " >NUL 2>\"" + err_path + "\"\"");
  std::ifstream file(err_path);  // text mode: CR LF as LF
  err->assign(std::istreambuf_iterator<char>(file), {});
  file.close();
  DeleteFileA(err_path.c_str());
  return exit_code;
}

TEST(PrivilegeTest, ZelkctlReadsButExplainsARefusedChange) {
  const std::string advice = "; run zelkctl from an elevated prompt, or have an administrator "
                             "grant that access with an ACL\n";
  const std::string key = "HKLM\\Software\\Zelk";
  const std::tuple<std::string, DWORD, std::string> cases[] = {
      {"get AutoShow", 0, ""},
      {"set AutoShow on", 2, "needs write access to " + key + advice},
      {"log add http://a.privilege.test/ http://b.privilege.test/", 2,
       "needs write access to " + key + " and to the log file" + advice},
  };
  ScopedComInitializer com;
  ComPtr<IZelkHelper> server;
  ASSERT_EQ(S_OK, CreateServerObject(&server));
  ReadOnlyKeys read_only({kSettingsPath});
  for (const auto& [arguments, exit_code, says] : cases) {
    std::string err;
    EXPECT_EQ(exit_code, RunZelkctl(arguments, &err)) << arguments << "\n" << err;
    const bool refused = err.find(" failed: 0x80070005 ") != std::string::npos;
    EXPECT_EQ(exit_code != 0, refused) << arguments << "\n" << err;
    const std::string last = err.substr(err.size() - std::min(err.size(), says.size()));
    EXPECT_EQ(says, exit_code ? last : err);
  }
}

}  // namespace
}  // namespace zelk
