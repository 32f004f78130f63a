#include "settings/settings.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;

namespace {
std::string Text(const std::string& path) {
  const Bytes b = ReadFile(path);
  return {b.begin(), b.end()};
}
void Put(const std::string& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}
}  // namespace

TEST(FolderOf, PosixAndWindowsSeparators) {
  const char* posix = "/";
  EXPECT_EQ(FolderOf("/home/u/anim/walk.gif", posix), "/home/u/anim");
  EXPECT_EQ(FolderOf("/walk.gif", posix), "");
  EXPECT_EQ(FolderOf("walk.gif", posix), "");
  EXPECT_EQ(FolderOf("/home/u/pics/", posix), "/home/u/pics");
  EXPECT_EQ(FolderOf("/home/u/a:b/c.gif", posix), "/home/u/a:b");  // ":" is a name character
  EXPECT_EQ(FolderOf(std::string(40000, 'a') + "/b", posix), "");

  const char* win = ":\\";
  EXPECT_EQ(FolderOf("C:\\Pictures\\Anim\\walk.gif", win), "C:\\Pictures\\Anim");
  EXPECT_EQ(FolderOf("C:\\walk.gif", win), "C:");
  EXPECT_EQ(FolderOf("C:walk.gif", win), "C:");
  EXPECT_EQ(FolderOf("walk.gif", win), "");
  EXPECT_EQ(FolderOf("C:\\Pictures\\", win), "C:\\Pictures");
  EXPECT_EQ(FolderOf("\\\\server\\share\\f.gif", win), "\\\\server\\share");

  // Without separators given, this build's own.
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(FolderOf("a" + s + "b" + s + "c.gif"), "a" + s + "b");
}

TEST(SourceNames, FolderAndBaseName) {
  const char* posix = "/";
  auto n = DeriveSourceNames("/pics/anim.old.gif", posix, '/');
  EXPECT_EQ(n.LastFolder, "/pics");
  EXPECT_EQ(n.OutputBaseName, "/pics/anim");
  EXPECT_EQ(DeriveSourceNames("/a.gif", posix, '/').OutputBaseName, "/a");
  EXPECT_EQ(DeriveSourceNames("/x/noext", posix, '/').OutputBaseName, "/x/noext");
  // A hidden file keeps its name: never an empty base name.
  EXPECT_EQ(DeriveSourceNames("/x/.anim.gif", posix, '/').OutputBaseName, "/x/.anim");
  const char* win = ":\\";
  EXPECT_EQ(DeriveSourceNames("C:\\pics\\anim.old.gif", win, '\\').OutputBaseName,
            "C:\\pics\\anim");
  auto root = DeriveSourceNames("C:\\a.gif", win, '\\');
  EXPECT_EQ(root.LastFolder, "C:");
  EXPECT_EQ(root.OutputBaseName, "C:\\a");
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(DeriveSourceNames("p" + s + "anim.gif").OutputBaseName, "p" + s + "anim");
}

TEST(Settings, FirstRunDefaults) {
  TempDir dir;
  SharedState s;
  LoadSettings(s, dir.File("Velkor.ini"), "/opt/velkor");
  EXPECT_EQ(s.LastFolder, "/opt/velkor");
  EXPECT_EQ(s.OutputFileType, 1);
  EXPECT_EQ(s.TransparentOption, 0);
}

TEST(Settings, NumbersAreFlooredAndBadValuesLeaveTheField) {
  struct Case {
    const char* stored;
    std::int16_t expected;
  };
  for (const Case c : {Case{"0", 0}, Case{"1.9", 1}, Case{"-0.5", -1}, Case{" 1", 1},
                       Case{"abc", 7}, Case{"99999", 7}, Case{"-32768", -32768},
                       Case{"32767.5", 32767}, Case{"0x10", 7}, Case{"12abc", 7}}) {
    TempDir dir;
    const std::string ini = dir.File("Velkor.ini");
    Put(ini, std::string("[Section]\r\nFile=") + c.stored + "\r\nTrans=" + c.stored + "\r\n");
    SharedState s;
    s.OutputFileType = 7;
    s.TransparentOption = 7;
    LoadSettings(s, ini, "/p");
    EXPECT_EQ(s.OutputFileType, c.expected) << c.stored;
    EXPECT_EQ(s.TransparentOption, c.expected) << c.stored;
  }
  // At start-up a bad "File" leaves the initial 0: bitmap output.
  TempDir dir;
  Put(dir.File("v.ini"), "[Section]\r\nFile=abc\r\n");
  SharedState fresh;
  LoadSettings(fresh, dir.File("v.ini"), "/p");
  EXPECT_EQ(fresh.OutputFileType, 0);
}

TEST(Settings, SaveWritesTheExactLinesAndKeepsTheRest) {
  TempDir dir;
  const std::string ini = dir.File("Velkor.ini");
  SharedState s;
  s.LastFolder = "/home/u/Anim";
  s.OutputFileType = 1;
  s.TransparentOption = 0;
  EXPECT_TRUE(SaveSettings(s, ini));
  EXPECT_EQ(Text(ini), "[Section]\r\nPass=/home/u/Anim\r\nFile= 1\r\nTrans= 0\r\n");

  Put(ini, "; mine\n[Other]\nkeep=me\n[Section]\nFile=3\n");
  s.OutputFileType = -2;
  SaveSettings(s, ini);
  EXPECT_EQ(Text(ini),
            "; mine\n[Other]\nkeep=me\n[Section]\nFile=-2\nPass=/home/u/Anim\nTrans= 0\n");

  SharedState back;
  LoadSettings(back, ini, "/p");
  EXPECT_EQ(back.LastFolder, "/home/u/Anim");
  EXPECT_EQ(back.OutputFileType, -2);
  EXPECT_EQ(back.TransparentOption, 0);
}

TEST(Settings, EitherLineEndAndAFolderInAnyScriptReadTheSame) {
  // The files a Linux copy writes (CRLF) or a person edits (LF) are read the
  // same by every build, and what a build writes it reads back.
  TempDir dir;
  const std::string ini = dir.File("Velkor.ini");
  const std::string folder = "C:\\画像\\アニメ";
  for (const std::string eol : {"\r\n", "\n"}) {
    Put(ini, "[Section]" + eol + "Pass=" + folder + eol + "File= 0" + eol + "Trans= 1" + eol);
    SharedState s;
    LoadSettings(s, ini, "/p");
    EXPECT_EQ(s.LastFolder, folder);
    EXPECT_EQ(s.OutputFileType, 0);
    EXPECT_EQ(s.TransparentOption, 1);
    s.OutputFileType = 1;
    ASSERT_TRUE(SaveSettings(s, ini));
    SharedState back;
    LoadSettings(back, ini, "/p");
    EXPECT_EQ(back.LastFolder, folder);
    EXPECT_EQ(back.OutputFileType, 1);
    EXPECT_EQ(back.TransparentOption, 1);
  }
}

TEST(Settings, AnUnwritableFolderKeepsTheValuesAndCarriesOn) {
  TempDir dir;
  SharedState s;
  s.LastFolder = "/x";
  const auto saved = SaveSettings(s, dir.File("missing/sub/Velkor.ini"));
  EXPECT_FALSE(saved);
  EXPECT_EQ(saved.problem,
            dir.File("missing/sub/Velkor.ini") + ": cannot write: No such file or directory");
  EXPECT_EQ(s.LastFolder, "/x");
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST(Settings, NumberForms) {
  EXPECT_EQ(FormatSettingNumber(1), " 1");
  EXPECT_EQ(FormatSettingNumber(0), " 0");
  EXPECT_EQ(FormatSettingNumber(-3), "-3");
  EXPECT_EQ(ParseSettingNumber(FormatSettingNumber(-32768)), -32768);
  EXPECT_FALSE(ParseSettingNumber(""));
  EXPECT_FALSE(ParseSettingNumber("inf"));
}

TEST(SettingsLocation, PortableCopyElseTheUsersConfigurationFolder) {
  TempDir dir;
  const std::string program = dir.File("bin"), config = dir.File("config");
  std::filesystem::create_directories(program);
  const std::string own = config + "/Velkor/Velkor.ini";

  // No copy beside the program: the user's folder, from XDG_CONFIG_HOME or HOME.
  SettingsFiles f = LocateSettings(program, config.c_str(), "/home/u");
  EXPECT_EQ(f.load, own);
  EXPECT_EQ(f.save, own);
  EXPECT_EQ(LocateSettings(program, "relative", "/home/u").save,
            "/home/u/.config/Velkor/Velkor.ini");
  EXPECT_EQ(LocateSettings(program, nullptr, "/home/u").save, "/home/u/.config/Velkor/Velkor.ini");

  // The first save makes the folder.
  SharedState s;
  s.LastFolder = "/pics";
  s.OutputFileType = 0;
  ASSERT_TRUE(SaveSettingsFile(s, f));
  SharedState back;
  LoadSettings(back, f.load, program);
  EXPECT_EQ(back.LastFolder, "/pics");
  EXPECT_EQ(back.OutputFileType, 0);

  // A writable copy beside the program wins.
  WriteFile(program + "/Velkor.ini", {});
  f = LocateSettings(program, config.c_str(), "/home/u");
  EXPECT_EQ(f.load, program + "/Velkor.ini");
  EXPECT_EQ(f.save, program + "/Velkor.ini");
}

TEST(SettingsLocation, BesideTheProgramWhereItCanBeWrittenElseTheApplicationData) {
  TempDir dir;
  const char sep = kPathSeparator;
  const std::string program = dir.File("bin"), appData = dir.File("AppData");
  std::filesystem::create_directories(program);
  const std::string portable = program + sep + "Velkor.ini";
  const std::string own = appData + sep + "Velkor" + sep + "Velkor.ini";

  // A folder that can be written keeps the file, even before it exists.
  SettingsFiles f = LocateSettingsBesideProgram(program, appData.c_str());
  EXPECT_EQ(f.load, portable);
  EXPECT_EQ(f.save, portable);
  SharedState s;
  s.LastFolder = "C:\\画像";
  ASSERT_TRUE(SaveSettingsFile(s, f));
  EXPECT_TRUE(std::filesystem::exists(sys::PathOf(portable)));

  // A program folder that cannot be written (here: one that is not there):
  // the user's own file, made by the first save.
  const std::string gone = dir.File("gone");
  f = LocateSettingsBesideProgram(gone, appData.c_str());
  EXPECT_EQ(f.load, own);
  EXPECT_EQ(f.save, own);
  ASSERT_TRUE(SaveSettingsFile(s, f));
  SharedState back;
  LoadSettings(back, f.load, gone);
  EXPECT_EQ(back.LastFolder, "C:\\画像");
  // No application data folder: beside the program after all.
  EXPECT_EQ(LocateSettingsBesideProgram(gone, nullptr).save, gone + sep + "Velkor.ini");
  EXPECT_EQ(LocateSettingsBesideProgram(gone, "").save, gone + sep + "Velkor.ini");

  // A read-only file beside the program is read until the user's own exists,
  // and never written. (Root writes it all the same on Linux.)
  std::filesystem::remove_all(sys::PathOf(appData));
  std::filesystem::permissions(sys::PathOf(portable),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  if (!sys::IsWritable(portable)) {
    f = LocateSettingsBesideProgram(program, appData.c_str());
    EXPECT_EQ(f.load, portable);
    EXPECT_EQ(f.save, own);
    ASSERT_TRUE(SaveSettingsFile(s, f));
    EXPECT_EQ(LocateSettingsBesideProgram(program, appData.c_str()).load, own);
  }
}

namespace {
// The program folder is not writable by whoever runs this.
[[maybe_unused]] void ReadOnlyProgramFolderChecks(const std::string& program,
                                                  const std::string& config) {
  const std::string portable = program + "/Velkor.ini";
  const Bytes before = ReadFile(portable);
  SettingsFiles f = LocateSettings(program, config.c_str(), nullptr);
  EXPECT_EQ(f.load, portable);  // read until the user's own file exists
  EXPECT_EQ(f.save, config + "/Velkor/Velkor.ini");
  SharedState s;
  LoadSettings(s, f.load, program);
  s.TransparentOption = 0;
  EXPECT_TRUE(SaveSettingsFile(s, f));
  EXPECT_EQ(ReadFile(portable), before);
  f = LocateSettings(program, config.c_str(), nullptr);
  EXPECT_EQ(f.load, config + "/Velkor/Velkor.ini");
  SharedState again;
  LoadSettings(again, f.load, program);
  EXPECT_EQ(again.LastFolder, "/kept");
  EXPECT_EQ(again.OutputFileType, 0);
  EXPECT_EQ(again.TransparentOption, 0);
}
}  // namespace

TEST(SettingsLocation, AReadOnlyProgramFolderNeverCostsTheSettings) {
  TempDir dir;
  const std::string program = dir.File("bin"), config = dir.File("config");
  std::filesystem::create_directories(program);
  std::filesystem::create_directories(config);
  Put(program + "/Velkor.ini", "[Section]\nPass=/kept\nFile= 0\nTrans= 1\n");
#ifdef _WIN32
  GTEST_SKIP() << "a folder the user cannot write is made with POSIX modes and another user";
#else
  if (::geteuid() != 0) {
    ::chmod(program.c_str(), 0555);
    ReadOnlyProgramFolderChecks(program, config);
    ::chmod(program.c_str(), 0755);
    return;
  }
  // Root writes anywhere: check as an ordinary user, for whom root's folder
  // beside the program is read-only.
  constexpr uid_t kNobody = 65534;
  ::chmod(dir.path().c_str(), 0755);
  ASSERT_EQ(::chown(config.c_str(), kNobody, kNobody), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    ReadOnlyProgramFolderChecks(program, config);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
}

TEST(Settings, SaveSettingsFileSaysWhenTheWritesFailed) {
  TempDir dir;
  SharedState s;
  s.LastFolder = "/x";
  EXPECT_TRUE(SaveSettingsFile(s, {dir.File("cfg/Velkor.ini"), dir.File("cfg/Velkor.ini")}));
  // A folder where the file should be cannot be replaced, not even by root.
  std::filesystem::create_directories(dir.File("taken/Velkor.ini"));
  const auto saved =
      SaveSettingsFile(s, {dir.File("taken/Velkor.ini"), dir.File("taken/Velkor.ini")});
  EXPECT_FALSE(saved);
  EXPECT_EQ(saved.problem, dir.File("taken/Velkor.ini") + ": cannot write: Is a directory");
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken/Velkor.ini")));
  // A file where its folder should be.
  WriteFile(dir.File("plain"), Bytes{1});
  const auto noFolder =
      SaveSettingsFile(s, {dir.File("plain/Velkor.ini"), dir.File("plain/Velkor.ini")});
  EXPECT_EQ(noFolder.problem.rfind(dir.File("plain/Velkor.ini") + ": cannot make its folder: ", 0),
            0u)
      << noFolder.problem;
}

TEST(Settings, AFileThatCannotBeReadIsToldApartFromAMissingOne) {
  TempDir dir;
  SharedState s;
  EXPECT_TRUE(LoadSettings(s, dir.File("none.ini"), "/p"));  // the first start: no problem
  EXPECT_EQ(s.LastFolder, "/p");
  std::filesystem::create_directory(dir.File("odd.ini"));  // unreadable even by root
  s.OutputFileType = 0;
  const auto loaded = LoadSettings(s, dir.File("odd.ini"), "/p");
  EXPECT_EQ(loaded.problem, dir.File("odd.ini") + ": cannot read: Is a directory");
  EXPECT_EQ(s.OutputFileType, 1);  // the defaults all the same
}
