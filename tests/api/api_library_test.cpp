// The shared library as built and installed: its dynamic symbol table and
// soname, the install tree and the example host built against it (which also
// compiles the header as C99).
#include <string>
#include <vector>

#include "api_fixture.h"

namespace zeptest {
namespace {

const char* const kExports[] = {
    "zepDemuxAddStream", "zepDemuxClose",       "zepDemuxFree",          "zepDemuxFreeParser",
    "zepDemuxGetAPIExt", "zepDemuxGetFileInfo", "zepDemuxGetStreamInfo", "zepDemuxGetTitleInfo",
    "zepDemuxNew",       "zepDemuxNewParser",   "zepDemuxOpen",          "zepDemuxOpenW",
    "zepDemuxPush",      "zepDemuxSeek",        "zepDemuxSleepParser",   "zepDemuxWakeParser"};

TEST(SharedLibrary, ExportsExactlyTheSixteenFunctionsUnderAVersionedSoname) {
  if (!have_tool("nm") || !have_tool("objdump")) GTEST_SKIP() << "nm or objdump is missing";
  EXPECT_NE(command_output(std::string("objdump -p '") + ZEP_LIBRARY_FILE + "' | grep SONAME")
                .find("libzepdemux.so.10"),
            std::string::npos);
  std::string expected;
  for (const char* name : kExports) expected += std::string(name) + "\n";  // in C order
  EXPECT_EQ(command_output(std::string("nm -D --defined-only '") + ZEP_LIBRARY_FILE +
                           "' | awk '{print $NF}' | LC_ALL=C sort"),
            expected);
}

TEST(SharedLibrary, InstallsHeaderLibraryAndPackageFiles) {
  if (!have_tool("cmake") || !have_tool("cc") || !have_tool("pkg-config")) {
    GTEST_SKIP() << "cmake, cc or pkg-config is missing";
  }
  TempDir prefix;
  ASSERT_EQ(run_command(std::string("cmake --install '") + ZEP_API_BINARY_DIR + "' --prefix '" +
                        prefix.path() + "' > /dev/null"),
            0);
  const std::string lib = prefix.path() + "/" + ZEP_INSTALL_LIBDIR;
  for (const std::string& file :
       {prefix.path() + "/include/zep_demux.h", lib + "/libzepdemux.so.10",
        lib + "/pkgconfig/zepdemux.pc", lib + "/cmake/zepdemux/zepdemuxConfig.cmake",
        lib + "/cmake/zepdemux/zepdemuxTargets.cmake"}) {
    EXPECT_EQ(run_command("test -f '" + file + "'"), 0) << file;
  }
#ifdef ZEP_SANITIZED
  GTEST_SKIP() << "an instrumented library needs an instrumented host";
#endif
  // A host program built only from the installed files.
  const std::string build = "PKG_CONFIG_PATH='" + lib + "/pkgconfig' cc -std=c99 '" +
                            ZEP_SOURCE_DIR + "/examples/list_and_extract.c' -o '" + prefix.path() +
                            "/host' $(PKG_CONFIG_PATH='" + lib +
                            "/pkgconfig' pkg-config --cflags --libs zepdemux)";
  ASSERT_EQ(run_command(build), 0) << build;
  EXPECT_EQ(run_command("LD_LIBRARY_PATH='" + lib + "' '" + prefix.path() + "/host' 2>/dev/null"),
            2)
      << "the usage message exits with 2";
}

}  // namespace
}  // namespace zeptest
