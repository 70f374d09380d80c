// CodecID strings of the module, in the order in which they are compared.
// Each row keeps the code a track of that CodecID gets (its own index but for
// "S_SSA", which shares the code of "S_TEXT/SSA"), the WAVE format tag
// given to audio tracks, and whether a video format can be described.
#include "modules/mkv/mkv_codecs.h"

namespace mkv {

const MkvCodecRow kCodecTable[kCodecCount] = {
    {u"UNKNOWN", 0, 0xFFFF, false},
    {u"V_MS/VFW/FOURCC", 1, 0xFFFF, true},
    {u"V_UNCOMPRESSED", 2, 0xFFFF, false},
    {u"V_MPEG4/ISO/SP", 3, 0xFFFF, false},
    {u"V_MPEG4/ISO/ASP", 4, 0xFFFF, true},
    {u"V_MPEG4/ISO/AP", 5, 0xFFFF, false},
    {u"V_MPEG4/ISO/AVC", 6, 0xFFFF, true},
    {u"V_MPEG4/MS/V3", 7, 0xFFFF, false},
    {u"V_MPEG1", 8, 0xFFFF, false},
    {u"V_MPEG2", 9, 0xFFFF, true},
    {u"V_REAL/RV10", 10, 0xFFFF, false},
    {u"V_REAL/RV20", 11, 0xFFFF, false},
    {u"V_REAL/RV30", 12, 0xFFFF, false},
    {u"V_REAL/RV40", 13, 0xFFFF, false},
    {u"V_QUICKTIME", 14, 0xFFFF, false},
    {u"V_THEORA", 15, 0xFFFF, false},
    {u"V_MPEGH/ISO/HEVC", 16, 0xFFFF, true},
    {u"A_MPEG/L3", 17, 0x55, true},
    {u"A_MPEG/L2", 18, 0x50, false},
    {u"A_MPEG/L1", 19, 0x50, false},
    {u"A_PCM/INT/BIG", 20, 0x0, false},
    {u"A_PCM/INT/LIT", 21, 0x1, false},
    {u"A_PCM/FLOAT/IEEE", 22, 0x3, false},
    {u"A_MPC", 23, 0xFFFF, false},
    {u"A_AC3", 24, 0x2000, true},
    {u"A_EAC3", 25, 0x27, true},
    {u"A_AC3/BSID9", 26, 0x2000, true},
    {u"A_AC3/BSID10", 27, 0x2000, true},
    {u"A_DTS", 28, 0x2001, true},
    {u"A_DTS/EXPRESS", 29, 0x28, true},
    {u"A_VORBIS", 30, 0x6771, true},
    {u"A_FLAC", 31, 0xFFFF, false},
    {u"A_REAL/14_4", 32, 0xFFFF, false},
    {u"A_REAL/28_8", 33, 0xFFFF, false},
    {u"A_REAL/COOK", 34, 0xFFFF, false},
    {u"A_REAL/SIPR", 35, 0xFFFF, false},
    {u"A_REAL/RALF", 36, 0xFFFF, false},
    {u"A_REAL/ATRC", 37, 0xFFFF, false},
    {u"A_MS/ACM", 38, 0x55, true},
    {u"A_AAC", 39, 0xFF, true},
    {u"A_AAC/MPEG2/MAIN", 40, 0xFF, false},
    {u"A_AAC/MPEG2/LC", 41, 0xFF, false},
    {u"A_AAC/MPEG2/LC/SBR", 42, 0xFF, false},
    {u"A_AAC/MPEG2/SSR", 43, 0xFF, false},
    {u"A_AAC/MPEG4/MAIN", 44, 0xFF, false},
    {u"A_AAC/MPEG4/LC", 45, 0xFF, false},
    {u"A_AAC/MPEG4/LC/SBR", 46, 0xFF, false},
    {u"A_AAC/MPEG4/SSR", 47, 0xFF, false},
    {u"A_AAC/MPEG4/LTP", 48, 0xFF, false},
    {u"A_QUICKTIME/QDMC", 49, 0xFFFF, false},
    {u"A_QUICKTIME/QDM2", 50, 0xFFFF, false},
    {u"A_TTA1", 51, 0x77A1, false},
    {u"A_WAVPACK4", 52, 0xFFFF, false},
    {u"S_TEXT/UTF8", 53, 0xFFFF, false},
    {u"S_TEXT/SSA", 54, 0xFFFF, false},
    {u"S_SSA", 54, 0xFFFF, false},
    {u"S_TEXT/ASS", 56, 0xFFFF, false},
    {u"S_TEXT/USF", 57, 0xFFFF, false},
    {u"S_IMAGE/BMP", 58, 0xFFFF, false},
    {u"S_VOBSUB", 59, 0xFFFF, false},
    {u"B_VOBBTN", 60, 0xFFFF, false},
};

uint32_t codec_code(const std::u16string& codecId) {
  for (uint32_t i = 1; i < kCodecCount; ++i)
    if (codecId == kCodecTable[i].codecId) return kCodecTable[i].code;
  return 0;
}

}  // namespace mkv
