// Linked Segments: the other Matroska files of the folder are looked at once
// each, and those whose SegmentUIDs continue the current Segment backwards
// (PrevUID) and forwards (NextUID) form the title's chain, at most 100
// Segments long. Every file joins the chain at most once, so a chain that
// loops or a file that names itself ends the search.
#include <algorithm>

#include "modules/mkv/mkv_segment.h"

namespace mkv {

namespace {

struct Candidate {
  std::u16string path;
  Uid uid, prevUid, nextUid;
  bool used = false;
};

bool ends_with_mkv(const std::u16string& name) {
  return name.size() >= 5 && name.compare(name.size() - 3, 3, u"mkv") == 0;
}

std::u16string folder_of(const std::u16string& file) {
  const size_t cut = file.find_last_of(u"/\\");
  return cut == std::u16string::npos ? std::u16string(u".") : file.substr(0, cut + 1);
}

std::vector<Candidate> scan_folder(const MkvContainer& c, uint32_t title) {
  std::vector<Candidate> out;
  const std::u16string folder = folder_of(c.fileName);
  ZepDirSearch* search = nullptr;
  if (zep_dir_open(folder.c_str(), &search, c.alloc) < 0 || !search) return out;
  std::vector<std::u16string> names;
  ZepDirEntry entry{};
  while (zep_dir_next(search, &entry) >= 0 && entry.name[0] != 0 && names.size() < 100000) {
    std::u16string name(entry.name);
    if (!entry.isDirectory && ends_with_mkv(name)) names.push_back(name);
  }
  zep_dir_close(search);
  std::sort(names.begin(), names.end());
  std::u16string base = folder;
  if (base != u"." && base.back() != u'/' && base.back() != u'\\') base += u'/';
  if (base == u".") base = u"./";
  for (const std::u16string& name : names) {
    const std::u16string path = base + name;
    if (path == c.fileName || (folder == u"." && name == c.fileName)) continue;
    MkvContainer other(c.alloc);
    other.linking = false;
    if (open_container(other, path.c_str(), 0, 0) < 0) continue;
    if (set_title(other, title) < 0) continue;
    if (!other.seg.uid.present() || other.seg.uid == c.seg.uid) continue;
    out.push_back({path, other.seg.uid, other.seg.prevUid, other.seg.nextUid, false});
  }
  return out;
}

MkvContainer* open_member(const MkvContainer& c, const std::u16string& path, uint32_t title) {
  auto* member = new MkvContainer(c.alloc);
  member->linking = false;
  member->read.delaceMode = c.read.delaceMode;  // the chain reads as one file
  if (open_container(*member, path.c_str(), 0, 0) < 0 || set_title(*member, title) < 0) {
    delete member;
    return nullptr;
  }
  return member;
}

}  // namespace

void follow_linked_segments(MkvContainer& c) {
  const MkvSegmentState& seg = c.seg;
  if (!seg.prevUid.present() && !seg.nextUid.present()) return;
  std::vector<Candidate> candidates = scan_folder(c, c.currentTitle);
  auto take = [&](const Uid& wanted) -> Candidate* {
    if (!wanted.present() || wanted == seg.uid) return nullptr;
    for (Candidate& k : candidates)
      if (!k.used && k.uid == wanted) {
        k.used = true;
        return &k;
      }
    return nullptr;
  };
  auto add = [&](Candidate& k, bool front) -> bool {
    if (c.chain.size() >= kMaxChainLength) return false;
    MkvContainer* member = open_member(c, k.path, c.currentTitle);
    if (!member) return false;
    MkvChainEntry e{member, true, member->seg.duration * double(member->seg.timecodeScale),
                    member->seg.uid};
    if (front) {
      c.chain.insert(c.chain.begin(), e);
      ++c.chainSelf;
    } else {
      c.chain.push_back(e);
    }
    return true;
  };
  Uid wanted = seg.prevUid;
  while (Candidate* k = take(wanted)) {
    if (!add(*k, true)) break;
    wanted = k->prevUid;
  }
  wanted = seg.nextUid;
  while (Candidate* k = take(wanted)) {
    if (!add(*k, false)) break;
    wanted = k->nextUid;
  }
}

}  // namespace mkv
