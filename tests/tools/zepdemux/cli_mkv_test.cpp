// `zepdemux info` and `extract --attachment` on Matroska files made in the
// test run by ffmpeg and mkvmerge, against what mkvmerge -J, mkvextract and
// ffprobe read from the same files: Segment fields and the linked chain,
// tracks, editions and chapters, tags, attachments and their bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "cli_runner.h"

namespace {

using clitest::run_cli;
using clitest::shell_quote;
using nlohmann::json;

class CliMkv : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"ffmpeg", "ffprobe", "mkvmerge", "mkvextract"})
      if (!zeptest::have_tool(tool)) return;
    dir_ = std::make_unique<zeptest::TempDir>();
    ok_ = make_files();
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg or mkvtoolnix is not installed";
    ASSERT_TRUE(ok_) << "ffmpeg or mkvmerge could not make the test files";
  }

  static std::string path(const std::string& name) { return dir_->path() + "/" + name; }
  static std::string q(const std::string& name) { return shell_quote(path(name)); }

  static bool make_files() {
    // The subtitles, chapters and tags that mkvmerge muxes in, from mkv_inputs/.
    for (const auto& input : std::filesystem::directory_iterator(
             std::string(ZEP_SOURCE_DIR) + "/tests/tools/zepdemux/mkv_inputs"))
      std::filesystem::copy(input.path(), path(input.path().filename()));
    // Attachments: bytes of our own as a font and as a blob.
    zeptest::Bytes font(5000), blob(3000);
    for (size_t i = 0; i < font.size(); ++i)
      font[i] = uint8_t(i * 7 + i / 256), blob[i % 3000] = uint8_t(i * 13);
    dir_->write("font.ttf", font);
    dir_->write("blob.bin", blob);
    for (const char* command :
         {"ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
          "testsrc=size=160x120:rate=25:"
          "duration=4 -f lavfi -i sine=sample_rate=48000:duration=4 -i subs.srt -map 0 -map 1 "
          "-map 2 -c:v libx264 -g 25 -pix_fmt yuv420p -c:a aac -c:s srt -metadata title='Test "
          "clip' -metadata:s:a:0 language=ger -metadata:s:a:0 title=Sine -metadata:s:s:0 "
          "language=fre source.mkv",
          "mkvmerge -q -o rich.mkv --title 'Rich file' --default-track-flag 0:1 "
          "--forced-display-flag 2:1 --track-name 0:Pictures --compression 2:zlib --chapters "
          "chapters.txt --global-tags tags.xml --attachment-mime-type font/ttf "
          "--attachment-description 'A font' --attach-file font.ttf --attachment-mime-type "
          "application/octet-stream --attach-file blob.bin source.mkv",
          "mkvmerge -q -o editions.mkv --chapters editions.xml --global-tags edition_tag.xml "
          "source.mkv",
          "mkvmerge -q -o part.mkv --split duration:00:00:02 --link source.mkv"})
      if (zeptest::run_command("cd " + shell_quote(dir_->path()) + " && " + command) != 0)
        return false;
    return std::filesystem::exists(path("part-002.mkv"));
  }

  static json info(const std::string& name) {
    return clitest::cli_json({"info", "--json", path(name)});
  }
  static json segments(const std::string& name) { return info(name)["matroska"]; }
  static json identify(const std::string& name) {
    return json::parse(zeptest::command_output("mkvmerge -J " + q(name)));
  }
  static json probe(const std::string& name) {
    return json::parse(zeptest::command_output(
        "ffprobe -v error -show_format -show_streams -show_chapters -of json " + q(name)));
  }

  static inline std::unique_ptr<zeptest::TempDir> dir_;
  static inline bool ok_ = false;
};

// Fields named alike here and in mkvmerge -J (left ours, right theirs).
void same_fields(const json& ours, const json& theirs, const std::vector<std::string>& pairs) {
  for (size_t i = 0; i < pairs.size(); i += 2)
    EXPECT_EQ(ours[pairs[i]], theirs[pairs[i + 1]]) << pairs[i];
}

TEST_F(CliMkv, SegmentAndTracksMatchMkvmergeIdentification) {
  const json all = info("rich.mkv"), id = identify("rich.mkv");
  const json &seg = all["matroska"][0], &props = id["container"]["properties"];
  ASSERT_EQ(all["matroska"].size(), 1u);
  same_fields(
      seg, props,
      {"title", "title", "muxing_app", "muxing_application", "writing_app", "writing_application"});
  EXPECT_NEAR(seg["duration"].get<double>(), props["duration"].get<double>() / 1e9, 1e-6);
  EXPECT_EQ(seg["file_name"], nullptr);
  clitest::expect_json_subset(seg["chain"], {{{"uid", props["segment_uid"]}, {"opened", true}}});
  const std::map<std::string, std::string> types = {
      {"video", "video"}, {"audio", "audio"}, {"subtitles", "subtitle"}};
  const json& tracks = seg["tracks"];
  ASSERT_EQ(tracks.size(), id["tracks"].size());
  for (size_t i = 0; i < tracks.size(); ++i) {
    SCOPED_TRACE("track " + std::to_string(i));
    const json &t = tracks[i], &p = id["tracks"][i]["properties"];
    EXPECT_EQ(t["type"], types.at(id["tracks"][i]["type"]));
    same_fields(t, p,
                {"number", "number", "uid", "uid", "codec_id", "codec_id", "language", "language",
                 "default", "default_track", "forced", "forced_track", "enabled", "enabled_track",
                 "private_data_size", "codec_private_length"});
    EXPECT_EQ(t["name"], p.value("track_name", json(nullptr)));
    EXPECT_NEAR(t["default_duration"].is_null() ? 0 : t["default_duration"].get<double>(),
                p.value("default_duration", 0.0) / 1e9, 1e-9);
    // mkvmerge names zlib 0; the stream number is the one the other commands take.
    EXPECT_EQ(t["compression"], p.contains("content_encoding_algorithms") ? "zlib" : "none");
    EXPECT_EQ(all["titles"][0]["streams"][t["stream"].get<size_t>()]["type"], t["type"]);
  }
}

TEST_F(CliMkv, ChaptersMatchFfprobe) {
  const json editions = segments("rich.mkv")[0]["editions"];
  json want = json::array();
  // The last chapter ends where the Segment does (1 ns before, at most).
  const json theirs = probe("rich.mkv");
  for (const json& c : theirs["chapters"])
    want.push_back({{"uid", uint64_t(c["id"].get<int64_t>())},
                    {"start", std::stod(c["start_time"].get<std::string>())},
                    {"end", std::stod(c["end_time"].get<std::string>())},
                    {"name", c["tags"]["title"]},
                    {"language", "eng"},
                    {"depth", 0}});
  ASSERT_EQ(want.size(), 3u);
  clitest::expect_json_subset(editions, {{{"current", true}, {"chapters", want}}}, 2e-7);
}

// ffprobe flattens SimpleTags into one dictionary: a nested name as
// "PARENT/CHILD", "-lang" after a name whose language is set; global tags go
// to the format, a track's tags to its stream.
std::map<std::string, std::string> flatten(const json& tag) {
  std::map<std::string, std::string> out;
  std::vector<std::string> keys;
  for (const json& st : tag["simple_tags"]) {
    keys.resize(st["depth"].get<size_t>());
    std::string key = (keys.empty() ? "" : keys.back() + "/") + st["name"].get<std::string>();
    if (st["language"].is_string() && st["language"] != "und")
      key += "-" + st["language"].get<std::string>();
    keys.push_back(key);
    if (st["value"].is_string()) out[key] = st["value"].get<std::string>();
  }
  return out;
}

std::map<std::string, std::string> probe_tags(const json& tags) {
  std::map<std::string, std::string> out;
  for (auto it = tags.begin(); it != tags.end(); ++it)
    if (it.key() != "title" && it.key() != "creation_time" && it.key() != "language")
      out[it.key()] = it.value().get<std::string>();
  return out;
}

TEST_F(CliMkv, TagsMatchFfprobe) {
  const json seg = segments("rich.mkv")[0];
  const json theirs = probe("rich.mkv");
  std::map<std::string, std::string> global;
  std::map<size_t, std::map<std::string, std::string>> streams;
  for (const json& tag : seg["tags"]) {
    const auto flat = flatten(tag);
    if (tag["track_uids"].empty()) global.insert(flat.begin(), flat.end());
    for (const json& uid : tag["track_uids"])
      for (const json& track : seg["tracks"])
        if (track["uid"] == uid)
          streams[track["stream"].get<size_t>()].insert(flat.begin(), flat.end());
  }
  EXPECT_EQ(global, probe_tags(theirs["format"]["tags"]));
  EXPECT_EQ(global.at("ARTIST/SORT_WITH"), "One, Some");
  EXPECT_EQ(global.at("COMMENT-ger"), "Grüße");
  ASSERT_EQ(streams.size(), 3u);
  for (const auto& [stream, tags] : streams)
    EXPECT_EQ(tags, probe_tags(theirs["streams"][stream]["tags"])) << "stream " << stream;
}

TEST_F(CliMkv, AttachmentsMatchMkvmergeAndTheirBytesMkvextract) {
  const json ours = segments("rich.mkv")[0]["attachments"];
  const json theirs = identify("rich.mkv")["attachments"];
  ASSERT_EQ(ours.size() * 10 + theirs.size(), 22u);
  const std::string sources[] = {path("font.ttf"), path("blob.bin")};
  for (size_t i = 0; i < ours.size(); ++i) {
    const json &a = ours[i], &b = theirs[i];
    const std::string id = std::to_string(b["id"].get<int>());
    SCOPED_TRACE("attachment " + id);
    // Numbered from 1, as mkvextract numbers them.
    same_fields(a, b,
                {"id", "id", "name", "file_name", "mime_type", "content_type", "description",
                 "description", "size", "size"});
    EXPECT_EQ(a["uid"], b["properties"]["uid"]);
    const std::string mine = path("ours" + id), other = path("theirs" + id);
    const auto r = run_cli({"extract", path("rich.mkv"), "--attachment", id + ":" + mine});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(zeptest::run_command("mkvextract -q " + q("rich.mkv") + " attachments " + id + ":" +
                                   shell_quote(other)),
              0);
    EXPECT_EQ(zeptest::read_file(mine), zeptest::read_file(other));
    EXPECT_EQ(zeptest::read_file(other), zeptest::read_file(sources[i]));
  }
}

// One row per refusal: out of range below and above, a title not there, no
// attachments, not Matroska, no file, then two wrong command lines.
TEST_F(CliMkv, ExtractRefusesAttachmentsThatAreNotThere) {
  const std::tuple<const char*, std::vector<std::string>, int> cases[] = {
      {"rich.mkv", {"0:"}, 1},   {"rich.mkv", {"3:"}, 1}, {"rich.mkv", {"1:", "1"}, 1},
      {"source.mkv", {"1:"}, 1}, {"subs.srt", {"1:"}, 1}, {"missing.mkv", {"1:"}, 1},
      {"rich.mkv", {"one:"}, 2}, {"rich.mkv", {""}, 2}};
  for (const auto& [file, args, status] : cases) {
    std::vector<std::string> line = {"extract", path(file), "--attachment",
                                     args[0].empty() ? "1:" : args[0] + path("out")};
    if (args.size() > 1) line.insert(line.end(), {"--title", args[1]});
    const auto r = run_cli(line);
    EXPECT_EQ(r.status, status) << file << " " << args[0] << ": " << r.err;
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(std::filesystem::exists(path("out"))) << file << " " << args[0];
  }
  EXPECT_FALSE(info("subs.srt").contains("matroska"));
}

TEST_F(CliMkv, LinkedChainMatchesMkvmergeIdentification) {
  const char* parts[] = {"part-001.mkv", "part-002.mkv"};
  std::vector<json> props;
  for (const char* part : parts) props.push_back(identify(part)["container"]["properties"]);
  EXPECT_EQ(props[0]["next_segment_uid"], props[1]["segment_uid"]) << "mkvmerge linked them";
  for (size_t opened = 0; opened < 2; ++opened) {
    SCOPED_TRACE(parts[opened]);
    const json all = info(parts[opened]);
    const json& seg = all["matroska"][0];
    ASSERT_EQ(seg["chain"].size(), 2u);
    double total = 0;
    for (size_t k = 0; k < 2; ++k) {
      const json& e = seg["chain"][k];
      EXPECT_EQ(e["uid"], props[k]["segment_uid"]);
      EXPECT_EQ(std::filesystem::path(e["file"].get<std::string>()).filename(), parts[k]);
      EXPECT_NEAR(e["duration"].get<double>(), props[k]["duration"].get<double>() / 1e9, 1e-6);
      EXPECT_EQ(e["opened"], k == opened);
      total += props[k]["duration"].get<double>() / 1e9;
    }
    EXPECT_NEAR(seg["duration"].get<double>(), total, 1e-6) << "the chain's duration";
    EXPECT_NEAR(all["titles"][0]["duration"].get<double>(), total, 1e-6);
  }
}

// The text form carries what --json does: one line of each kind of detail, in order.
TEST_F(CliMkv, TextOutputListsTheDetails) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"rich.mkv",
       {"  track 3 (stream 2): subtitle, S_TEXT/UTF8, language fre, zlib compressed, forced",
        "    1.250000 - 3.000000 \"Main part\" (eng)", "      SORT_WITH = One, Some",
        "  attachment 2: blob.bin, application/octet-stream, 3000 bytes"}},
      {"editions.mkv",
       {"  edition 0: 1 chapter, hidden", "      0.500000 - 1.000000 \"Nested\" (ger)",
        "  tag 0: edition uid 1002", "    COMMENT = Second edition"}},
      {"part-002.mkv", {"  linked Segments: 2", "part-001.mkv, 2.", "(opened)"}}};
  for (const auto& [file, lines] : cases) {
    const std::string out = run_cli({"info", path(file)}).out;
    size_t at = 0;
    for (const std::string& line : lines)
      ASSERT_NE(at = out.find(line, at), std::string::npos) << file << ": " << line << "\n" << out;
  }
}

}  // namespace
