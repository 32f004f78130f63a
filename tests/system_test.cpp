#include "platform/system/system.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/system/large_blocks.h"
#include "platform/system/per_thread.h"

#include "tests/support/testutil.h"

using namespace testutil;
namespace fs = std::filesystem;

// The ordinary heap, with a switch that makes it refuse: what giving memory
// back does while memory has run out. (The sanitizers bring their own.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define VELKOR_REFUSING_HEAP 1
namespace {
std::atomic<bool> g_refuseNew{false};
}
void* operator new(std::size_t n) {
  if (g_refuseNew.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif

TEST(Files, ReadWriteDeleteAndAttributes) {
  TempDir dir;
  const std::string f = dir.File("a.bin");
  EXPECT_FALSE(sys::ReadWholeFile(f));
  EXPECT_FALSE(sys::GetFileAttributes(f));
  ASSERT_TRUE(sys::WriteBinaryFile(f, Bytes{1, 2, 3}));
  EXPECT_EQ(*sys::ReadWholeFile(f), (Bytes{1, 2, 3}));
  ASSERT_TRUE(sys::WriteBinaryFile(f, Bytes{9}));  // replaced, not appended
  EXPECT_EQ(*sys::ReadWholeFile(f), (Bytes{9}));
  EXPECT_TRUE(sys::GetFileAttributes(f));
  EXPECT_TRUE(sys::GetFileAttributes(dir.path()));  // folders too
  EXPECT_FALSE(sys::ReadWholeFile(dir.path()));
  EXPECT_TRUE(sys::DeleteFile(f));
  EXPECT_FALSE(sys::DeleteFile(f));
  // A folder of that name can be neither deleted nor written.
  fs::create_directory(dir.File("d"));
  EXPECT_FALSE(sys::WriteBinaryFile(dir.File("d"), Bytes{1}));
  EXPECT_TRUE(fs::is_directory(dir.File("d")));
}

TEST(Files, NamesInAnyScriptAreTheNamesOnDisk) {
  // UTF-8 in, the same name on disk: on Windows not the system's code page.
  TempDir dir;
  const std::string folder = dir.File("画像");
  const std::string file = folder + TempDir::kSeparator + "アニメ.gif";
  ASSERT_TRUE(fs::create_directory(sys::PathOf(folder)));
  ASSERT_TRUE(sys::WriteBinaryFile(file, Bytes{1, 2, 3}));
  EXPECT_TRUE(sys::GetFileAttributes(file));
  EXPECT_EQ(*sys::ReadWholeFile(file), (Bytes{1, 2, 3}));
  auto in = sys::InputFile::Open(file);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Size(), 3u);
  in.reset();
  const auto temp = sys::CreateTempFile(folder + TempDir::kSeparator, "一時", "GIF");
  ASSERT_TRUE(temp);
  ASSERT_TRUE(sys::WritePrivateProfileString("Section", "Pass", folder, file + ".ini"));
  EXPECT_EQ(sys::GetPrivateProfileString("Section", "Pass", "", file + ".ini"), folder);

  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(sys::PathOf(folder)))
    names.insert(sys::Utf8Of(e.path().filename()));
  EXPECT_EQ(names.count("アニメ.gif"), 1u);
  EXPECT_EQ(names.count("アニメ.gif.ini"), 1u);
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(temp->find(folder), 0u);
  EXPECT_NE(temp->find("一時"), std::string::npos);
  EXPECT_TRUE(sys::DeleteFile(*temp));
  EXPECT_TRUE(sys::DeleteFile(file));
  EXPECT_FALSE(fs::exists(sys::PathOf(file)));
}

TEST(Files, AnInputFileReadsAnyRangeAndSaysWhereTheFileNowEnds) {
  TempDir dir;
  const std::string f = dir.File("a.bin");
  int error = 0;
  EXPECT_FALSE(sys::InputFile::Open(f, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(sys::InputFile::Open(dir.path(), &error));
  EXPECT_EQ(error, EISDIR);
  WriteFile(f, Bytes{1, 2, 3, 4, 5, 6});
  auto file = sys::InputFile::Open(f);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 6u);
  Bytes out(4, 0);
  EXPECT_EQ(file->ReadAt(1, out.data(), 3), 3);
  EXPECT_EQ(out, (Bytes{2, 3, 4, 0}));
  EXPECT_EQ(file->ReadAt(4, out.data(), 4), 2);  // short at the end
  EXPECT_EQ(file->ReadAt(6, out.data(), 4), 0);
  // The size stays what it was at opening; reads tell the file shrank.
  fs::resize_file(f, 2);
  EXPECT_EQ(file->Size(), 6u);
  EXPECT_EQ(file->ReadAt(0, out.data(), 4), 2);
}

TEST(Files, WritingReplacesALinkNeverItsTarget) {
  TempDir dir;
  WriteFile(dir.File("target"), Bytes{7, 7});
  fs::create_symlink(dir.File("target"), dir.File("link"));
  ASSERT_TRUE(sys::WriteBinaryFile(dir.File("link"), Bytes{1}));
  EXPECT_EQ(ReadFile(dir.File("target")), (Bytes{7, 7}));
  EXPECT_EQ(ReadFile(dir.File("link")), (Bytes{1}));
}

#ifndef _WIN32
TEST(Files, AFileIsWrittenWholeOrNotAtAllWithTheReason) {
  TempDir dir;
  const std::string path = dir.File("frame.bmp");
  WriteFile(path, Bytes{1, 2, 3});  // a frame of an earlier run: kept until replaced whole
  // Past the size limit a write fails as on a full disk.
  struct rlimit before {};
  ::getrlimit(RLIMIT_FSIZE, &before);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = before;
  limit.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  int error = 0;
  const bool written = sys::WriteBinaryFile(path, Bytes(10000, 7), &error);
  {
    // Left without Close: never put in place.
    sys::OutputFile out;
    ASSERT_EQ(sys::CreateFileReplacing(dir.File("other.gif"), out), sys::ReplaceResult::Ok);
    out.Write("GIF89a", 6);
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(sys::ErrorText(error), "File too large");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"frame.bmp"}))
      << "a cut or abandoned file is left";
  EXPECT_EQ(ReadFile(path), (Bytes{1, 2, 3})) << "a failed write lost the earlier file";

  // A file written whole appears at once under its name, with the mode of a
  // file made there.
  ASSERT_TRUE(sys::WriteBinaryFile(path, Bytes(10000, 7), &error));
  EXPECT_EQ(ReadFile(path), Bytes(10000, 7));
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"frame.bmp"}));
  const auto mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0666 & ~mask & 0644));
}

TEST(Files, AProgramKilledWhileWritingLeavesNothingBehind) {
  TempDir dir;
  WriteFile(dir.File("frame.bmp"), Bytes{1, 2, 3});
  // A child that has written part of two files (one to replace an earlier
  // one) dies without a word, as SIGKILL or the OOM killer ends a program.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sys::OutputFile a, b;
    const bool made =
        sys::CreateFileReplacing(dir.File("frame.bmp"), a) == sys::ReplaceResult::Ok &&
        sys::CreateFileReplacing(dir.File("new.bmp"), b) == sys::ReplaceResult::Ok;
    a.Write(Bytes(100000, 7).data(), 100000);
    b.Write(Bytes(100000, 7).data(), 100000);
    ::kill(::getpid(), SIGKILL);
    ::_exit(made ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"frame.bmp"}));
  EXPECT_EQ(ReadFile(dir.File("frame.bmp")), (Bytes{1, 2, 3}));
  // Written whole, both take their names, the earlier file and a link at a
  // name replaced themselves.
  fs::create_symlink(dir.File("frame.bmp"), dir.File("link.bmp"));
  for (const char* name : {"frame.bmp", "new.bmp", "link.bmp"}) {
    sys::OutputFile out;
    ASSERT_EQ(sys::CreateFileReplacing(dir.File(name), out), sys::ReplaceResult::Ok);
    out.Write(name, std::strlen(name));
    ASSERT_TRUE(out.Close()) << name;
    EXPECT_EQ(ReadFile(dir.File(name)), Bytes(name, name + std::strlen(name)));
  }
  EXPECT_FALSE(fs::is_symlink(dir.File("link.bmp")));
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"frame.bmp", "link.bmp", "new.bmp"}));
}

TEST(Files, AFifoOrADeviceIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.File("f");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    // On a thread of its own: an open that waits for a writer fails the
    // test within seconds, and is then released by one.
    std::atomic<bool> done{false};
    int error = 0;
    bool opened = true;
    std::thread open([&] {
      opened = bool(sys::InputFile::Open(path, &error));
      done = true;
    });
    for (int waited = 0; waited < 5000 && !done; waited += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(done) << path << ": the open waits for a writer";
    if (!done) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    open.join();
    EXPECT_FALSE(opened) << path;
    EXPECT_EQ(error, sys::kNotRegularFile) << path;
    EXPECT_EQ(sys::ErrorText(error), "not a regular file");
  }
}
#endif

TEST(TempFiles, FreshExclusiveNamesWithTheExtension) {
  TempDir dir;
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    auto n = sys::CreateTempFile(dir.path() + "/", " 1", "GIF");
    ASSERT_TRUE(n);
    EXPECT_TRUE(names.insert(*n).second);
    EXPECT_EQ(n->substr(n->size() - 4), ".GIF");
    EXPECT_EQ(fs::file_size(*n), 0u);
  }
  for (const auto& n : names) EXPECT_TRUE(sys::DeleteFile(n));
  EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST(TempFiles, AFrameFileHoldsExactlyItsBytesWhateverLayThere) {
  TempDir dir;
  const Bytes frame{'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
  auto n = sys::CreateTempFile(dir.path() + "/", " 1", "GIF");
  ASSERT_TRUE(n);
  ASSERT_TRUE(sys::WriteTempFile(*n, frame.data(), frame.size()));
  EXPECT_EQ(ReadFile(*n), frame);
  // Something longer written there in between is cut, not left as a tail.
  WriteFile(*n, Bytes(4096, 0xEE));
  ASSERT_TRUE(sys::WriteTempFile(*n, frame.data(), frame.size()));
  EXPECT_EQ(ReadFile(*n), frame);
#ifndef _WIN32
  // A link put in its place is not written through.
  ASSERT_TRUE(sys::DeleteFile(*n));
  WriteFile(dir.File("victim"), Bytes{7});
  fs::create_symlink(dir.File("victim"), *n);
  int error = 0;
  EXPECT_FALSE(sys::WriteTempFile(*n, frame.data(), frame.size(), &error));
  EXPECT_EQ(error, ELOOP);
  EXPECT_EQ(ReadFile(dir.File("victim")), (Bytes{7}));
#endif
}

TEST(TempFiles, NeverOpensAnExistingFileOrLink) {
  TempDir dir;
  WriteFile(dir.File("taken.GIF"), Bytes{5});
  fs::create_symlink(dir.File("victim"), dir.File("link.GIF"));
  std::vector<std::string> names = {"taken", "link", "free"};
  std::size_t next = 0;
  std::optional<std::string> n;
  {
    const sys::ScopedTempNameSource source(
        [&] { return names[std::min(next++, names.size() - 1)]; });
    n = sys::CreateTempFile(dir.path(), "", "GIF");
  }
  ASSERT_TRUE(n);
  EXPECT_EQ(*n, dir.File("free.GIF"));
  EXPECT_EQ(ReadFile(dir.File("taken.GIF")), (Bytes{5}));
  EXPECT_FALSE(fs::exists(dir.File("victim")));
  EXPECT_FALSE(sys::CreateTempFile(dir.File("no/such/folder"), "", "GIF"));
}

TEST(Profile, KernelSemantics) {
  TempDir dir;
  const std::string ini = dir.File("t.ini");
  EXPECT_EQ(sys::GetPrivateProfileString("S", "k", "dflt", ini), "dflt");  // no file
  WriteFile(ini, Bytes{});
  const std::string text =
      "; a comment\r\n[Other]\r\nPass=elsewhere\r\n[section]\r\n  PASS =  C:\\x y  \r\n"
      "File= 1\r\n\r\n[Last]\r\nz=1\r\n";
  WriteFile(ini, Bytes(text.begin(), text.end()));
  EXPECT_EQ(sys::GetPrivateProfileString("Section", "pass", "", ini), "C:\\x y");
  EXPECT_EQ(sys::GetPrivateProfileString("SECTION", "File", "", ini), "1");
  EXPECT_EQ(sys::GetPrivateProfileString("Section", "Trans", "", ini), "");
  EXPECT_EQ(sys::GetPrivateProfileString("Nope", "File", "", ini), "");
  EXPECT_EQ(sys::GetPrivateProfileString("Section", "Pass", "", ini, 4), "C:\\");

  ASSERT_TRUE(sys::WritePrivateProfileString("Section", "Trans", " 0", ini));
  ASSERT_TRUE(sys::WritePrivateProfileString("Section", "file", " 5", ini));
  ASSERT_TRUE(sys::WritePrivateProfileString("New", "a", "b", ini));
  const Bytes after = ReadFile(ini);
  EXPECT_EQ(std::string(after.begin(), after.end()),
            "; a comment\r\n[Other]\r\nPass=elsewhere\r\n[section]\r\n  PASS =  C:\\x y  \r\n"
            "file= 5\r\nTrans= 0\r\n\r\n[Last]\r\nz=1\r\n[New]\r\na=b\r\n");
  // Nothing is left beside the file.
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"t.ini"}));
}

TEST(Profile, WritesAsideAndRenamesSoTheOldFileIsNeverTruncated) {
  TempDir dir;
  const std::string ini = dir.File("t.ini");
  ASSERT_TRUE(sys::WritePrivateProfileString("S", "a", "1", ini));
  // Whoever still holds the old file sees it whole: the new content went to
  // another file that replaced it by name.
  FILE* old = std::fopen(ini.c_str(), "rb");
  ASSERT_NE(old, nullptr);
#ifdef _WIN32
  // Windows replaces no file that another program holds open without sharing
  // its deletion: the write fails, leaving the old file whole and nothing
  // beside it, and succeeds once the file is let go.
  EXPECT_FALSE(sys::WritePrivateProfileString("S", "a", "22222222", ini));
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"t.ini"}));
#else
  ASSERT_TRUE(sys::WritePrivateProfileString("S", "a", "22222222", ini));
#endif
  char buf[64] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, old);
  std::fclose(old);
  EXPECT_EQ(std::string(buf, n), "[S]\r\na=1\r\n");
#ifdef _WIN32
  ASSERT_TRUE(sys::WritePrivateProfileString("S", "a", "22222222", ini));
#endif
  EXPECT_EQ(sys::GetPrivateProfileString("S", "a", "", ini), "22222222");
  // A name that is a folder is neither read nor replaced.
  std::filesystem::create_directory(dir.File("d.ini"));
  EXPECT_FALSE(sys::WritePrivateProfileString("S", "a", "1", dir.File("d.ini")));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("d.ini")));
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"d.ini", "t.ini"}));
}

TEST(Hooks, SleepAndYieldAreReplaceable) {
  std::vector<std::int64_t> slept;
  int yields = 0;
  {
    const sys::ScopedSleepHook sleep([&](std::int64_t ms) { slept.push_back(ms); });
    const sys::ScopedYieldHook yield([&] { ++yields; });
    sys::Sleep(5);
    sys::DoEvents();
  }
  sys::DoEvents();  // the guards have put the empty hooks back
  EXPECT_EQ(slept, (std::vector<std::int64_t>{5}));
  EXPECT_EQ(yields, 1);
  EXPECT_FALSE(sys::ProgramFolder().empty());
  EXPECT_EQ(sys::TempFolder().back(), TempDir::kSeparator);
}

namespace {
std::atomic<int> made{0}, destroyed{0};
struct Counted {
  Counted() : storage(1000, 7) { ++made; }
  ~Counted() {
    // Reads its own heap storage: where the object's memory was already
    // given back, this reads freed memory (the sanitizers say so).
    EXPECT_EQ(storage.back(), 7);
    ++destroyed;
  }
  std::vector<int> storage;
};
struct OtherTag {};
}  // namespace

TEST(PerThread, EachThreadHasItsOwnObjectsDestroyedWhenItEnds) {
  constexpr int kThreads = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      Counted& a = sys::PerThread<Counted>();
      Counted& b = sys::PerThread<Counted, OtherTag>();
      EXPECT_NE(&a, &b);
      EXPECT_EQ(&a, &sys::PerThread<Counted>());  // the same object on every call
      a.storage.push_back(7);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(made, 2 * kThreads);
  EXPECT_EQ(destroyed, 2 * kThreads);
}

TEST(SingleInstance, TheSecondHolderOfANameIsRefused) {
  TempDir dir;
#ifndef _WIN32
  // The lock files go to the runtime folder: this test's own.
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept = old != nullptr ? old : "";
  SetEnv("XDG_RUNTIME_DIR", dir.path());
#endif
  const std::string name = "velkor-test-" + fs::path(dir.path()).filename().string();
  EXPECT_TRUE(sys::AcquireSingleInstance(name));
  EXPECT_FALSE(sys::AcquireSingleInstance(name));  // held, here by this very process
  EXPECT_FALSE(sys::AcquireSingleInstance(name));
  EXPECT_TRUE(sys::AcquireSingleInstance(name + "-other"));
#ifndef _WIN32
  EXPECT_TRUE(fs::exists(dir.File(name + ".lock")));
  if (old != nullptr) {
    SetEnv("XDG_RUNTIME_DIR", kept);
  } else {
    UnsetEnv("XDG_RUNTIME_DIR");
  }
#endif
}

#ifndef _WIN32  // Windows: tests/windows/win32_test.cpp
// The first stop signal becomes a request the run polls; the program must
// not end on it, and a second one must end it as the signal would have.
TEST(Stop, TheFirstStopSignalIsARequestAndTheNextOneEndsTheProgram) {
  sys::ClearStopRequest();
  sys::CatchStopSignals();
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(sys::StopRequested());
  EXPECT_EQ(sys::StopStatus(), 143);
  // A later signal keeps the first one's status...
  sys::RequestStop(SIGINT);
  EXPECT_EQ(sys::StopSignal(), SIGTERM);
  // ...and has its default action again.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    ASSERT_EQ(::sigaction(s, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << s;
  }
  EXPECT_EXIT(std::raise(SIGHUP), ::testing::KilledBySignal(SIGHUP), "");
  sys::ClearStopRequest();
  EXPECT_FALSE(sys::StopRequested());
}
#endif

TEST(LargeBlocks, BlocksNeverOverlapAndEveryRegionGoesBackWhenEmpty) {
  const std::size_t before = sys::LargeBytesMapped();
  // Four threads allocate and free blocks of many sizes, each filled with its
  // own tag and checked before it is freed: a block handed out twice, or a
  // gap merged wrongly, shows as a tag overwritten.
  std::atomic<int> damaged{0};
  auto work = [&](unsigned seed) {
    std::vector<std::pair<std::uint8_t*, std::size_t>> held;
    for (int i = 0; i < 400; ++i) {
      seed = seed * 1103515245u + 12345u;
      if (!held.empty() && (seed >> 16) % 3 == 0) {
        const std::size_t k = (seed >> 8) % held.size();
        auto [p, n] = held[k];
        for (std::size_t j = 0; j < n; j += 997) {
          if (p[j] != std::uint8_t(n)) ++damaged;
        }
        sys::FreeLarge(p, n);
        held.erase(held.begin() + std::ptrdiff_t(k));
        continue;
      }
      const std::size_t n = sys::kLargeBlockMin + (seed >> 4) % (std::size_t(3) << 20);
      auto* p = static_cast<std::uint8_t*>(sys::AllocateLarge(n));
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
      std::memset(p, std::uint8_t(n), n);
      held.emplace_back(p, n);
    }
    for (auto [p, n] : held) sys::FreeLarge(p, n);
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) threads.emplace_back(work, t + 1);
  for (auto& t : threads) t.join();
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_EQ(sys::LargeBytesMapped(), before);
}

#ifdef VELKOR_REFUSING_HEAP
TEST(LargeBlocks, GivingBackNeedsNoMemory) {
  // Blocks given back while the heap refuses everything, with gaps on no
  // side, one side and both: FreeLarge must not allocate (it is noexcept,
  // and runs while out-of-memory failures unwind).
  const std::size_t n = std::size_t(1) << 20;
  std::vector<void*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(sys::AllocateLarge(n));
  const std::size_t mapped = sys::LargeBytesMapped();
  g_refuseNew = true;
  sys::FreeLarge(blocks[1], n);  // no free neighbour
  sys::FreeLarge(blocks[3], n);  // none either
  sys::FreeLarge(blocks[2], n);  // between two gaps
  sys::FreeLarge(blocks[4], n);  // after one
  g_refuseNew = false;
  void* again = sys::AllocateLarge(4 * n);  // the four merged into one gap
  EXPECT_EQ(again, blocks[1]);
  EXPECT_EQ(sys::LargeBytesMapped(), mapped);
  sys::FreeLarge(again, 4 * n);
  for (int i : {0, 5}) sys::FreeLarge(blocks[std::size_t(i)], n);
}
#endif

TEST(LargeBlocks, MemoryGivenBackIsUsedAgainFirstAndGapsMerge) {
  const std::size_t n = std::size_t(1) << 20;
  void* a = sys::AllocateLarge(n);
  void* b = sys::AllocateLarge(n);
  void* c = sys::AllocateLarge(n);
  const std::size_t mapped = sys::LargeBytesMapped();
  sys::FreeLarge(b, n);
  void* again = sys::AllocateLarge(n - 100);
  EXPECT_EQ(again, b);
  sys::FreeLarge(again, n - 100);
  sys::FreeLarge(a, n);
  // a and b side by side are one gap now: a block of both fits where a was.
  void* both = sys::AllocateLarge(2 * n);
  EXPECT_EQ(both, a);
  EXPECT_EQ(sys::LargeBytesMapped(), mapped);
  static_cast<std::uint8_t*>(both)[2 * n - 1] = 1;  // writable to its end
  sys::FreeLarge(both, 2 * n);
  sys::FreeLarge(c, n);

  // The other way round: b given back after a, and merged with the gap
  // before it.
  a = sys::AllocateLarge(n);
  b = sys::AllocateLarge(n);
  c = sys::AllocateLarge(n);
  sys::FreeLarge(a, n);
  sys::FreeLarge(b, n);
  both = sys::AllocateLarge(2 * n);
  EXPECT_EQ(both, a);
  sys::FreeLarge(both, 2 * n);
  sys::FreeLarge(c, n);

  // A block larger than any region gets one of its own, given back with it.
  const std::size_t before = sys::LargeBytesMapped();
  const std::size_t big = std::size_t(100) << 20;
  auto* p = static_cast<std::uint8_t*>(sys::AllocateLarge(big));
  EXPECT_GE(sys::LargeBytesMapped(), before + big);
  p[0] = p[big - 1] = 1;
  sys::FreeLarge(p, big);
  EXPECT_EQ(sys::LargeBytesMapped(), before);
  EXPECT_THROW(sys::AllocateLarge(std::size_t(-1) - 4096), std::bad_alloc);
}
