// Types and constants of the audio library's C interface, shared by the
// library itself and by the code that binds it at run time.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int32_t;
using DWORD_PTR = uintptr_t;

// Handles: 0 is failure.
using HSTREAM = DWORD;
using HMUSIC = DWORD;
using HSYNC = DWORD;
using HCHANNEL = DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Device record; 15 32-bit fields, 60 bytes.
struct BASS_INFO {
    DWORD size;       // size of this record, set by the caller
    DWORD flags;      // capability flags (none here)
    DWORD hwsize;     // hardware memory (none)
    DWORD hwfree;     // free hardware memory (none)
    DWORD freesam;    // free sample slots (none)
    DWORD free3d;     // free 3D slots (none)
    DWORD minrate;    // lowest output rate
    DWORD maxrate;    // highest output rate
    DWORD eax;        // environment effects (never)
    DWORD minbuf;     // recommended minimum buffer in ms
    DWORD dsver;      // sound system version, byte 40
    DWORD latency;    // output latency in ms
    DWORD initflags;  // flags given to BASS_Init
    DWORD speakers;   // output channel count
    DWORD freq;       // output rate in use
};
static_assert(sizeof(BASS_INFO) == 60, "BASS_INFO must be 60 bytes");

struct BASS_CHANNELINFO {
    DWORD freq;   // sample rate
    DWORD chans;  // channel count
    DWORD flags;  // BASS_SAMPLE_8BITS for 8-bit data
    DWORD ctype;  // BASS_CTYPE_*
};

// BASS_GetOutputLevel: what the output took since the previous call.
struct BASS_OUTPUTLEVEL {
    QWORD frames;    // frames the output device (or the null output) took
    float loudest;   // the loudest block's RMS in dB relative to full scale; -200: silence or none
    DWORD reserved;  // 0
};
static_assert(sizeof(BASS_OUTPUTLEVEL) == 16, "BASS_OUTPUTLEVEL must be 16 bytes");

typedef DWORD(STREAMPROC)(HSTREAM handle, void* buffer, DWORD length, void* user);
// For the metadata sync, data is the address of the NUL-terminated text (or of
// the NUL-separated comment list), valid during the call.
typedef void(SYNCPROC)(HSYNC handle, DWORD channel, DWORD_PTR data, void* user);

// Library version: major in the low word, minor in the high word.
constexpr DWORD BASSVERSION = 2;

// BASS_SetConfig / BASS_GetConfig options.
constexpr DWORD BASS_CONFIG_MAXVOL = 3;       // scale of the two master volumes
constexpr DWORD BASS_CONFIG_GVOL_STREAM = 5;  // master volume of streams
constexpr DWORD BASS_CONFIG_GVOL_MUSIC = 6;   // master volume of music

// Creation flags.
constexpr DWORD BASS_SAMPLE_8BITS = 1;
constexpr DWORD BASS_MUSIC_CALCLEN = 0x8000;
constexpr DWORD BASS_STREAM_META = 0x400000;
constexpr DWORD BASS_WMA_URL = 4;  // BASS_WMA_StreamCreateFile: file is a network address

// Stream procedure result flag: these are the stream's last bytes.
constexpr DWORD BASS_STREAMPROC_END = 0x80000000u;

// Sync types.
constexpr DWORD BASS_SYNC_END = 2;
constexpr DWORD BASS_SYNC_META = 4;
constexpr DWORD BASS_SYNC_DOWNLOAD = 7;

// Tag kinds of BASS_StreamGetTags.
constexpr DWORD BASS_TAG_ID3 = 0;    // ID3v1 block, 128 bytes
constexpr DWORD BASS_TAG_ID3V2 = 1;  // ID3v2 block
constexpr DWORD BASS_TAG_OGG = 2;    // Ogg comments, NUL-separated, empty last
constexpr DWORD BASS_TAG_HTTP = 3;   // HTTP headers, NUL-separated, empty last
constexpr DWORD BASS_TAG_ICY = 4;    // ICY headers, NUL-separated, empty last
constexpr DWORD BASS_TAG_META = 5;   // current stream metadata text
// The title the playlist a link led to gave the stream it opened (text).
constexpr DWORD BASS_TAG_LINK = 0x20000;

// BASS_StreamGetFilePosition modes.
constexpr DWORD BASS_FILEPOS_DECODE = 0;
constexpr DWORD BASS_FILEPOS_DOWNLOAD = 1;
constexpr DWORD BASS_FILEPOS_END = 2;

// BASS_ChannelGetData flags.
constexpr DWORD BASS_DATA_FFT512 = 0x80000000u;   // 256 magnitudes
constexpr DWORD BASS_DATA_FFT2048 = 0x80000002u;  // 1024 magnitudes
constexpr DWORD BASS_DATA_FFT_INDIVIDUAL = 0x10;  // one set per channel, interleaved
constexpr DWORD BASS_DATA_FFT2048_INDIVIDUAL = 0x80000012u;

// BASS_ChannelIsActive results.
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// Channel types of BASS_CHANNELINFO.ctype.
constexpr DWORD BASS_CTYPE_STREAM = 0x10000;  // user stream
constexpr DWORD BASS_CTYPE_STREAM_WAV = 0x10001;
constexpr DWORD BASS_CTYPE_STREAM_OGG = 0x10002;
constexpr DWORD BASS_CTYPE_STREAM_MP1 = 0x10003;
constexpr DWORD BASS_CTYPE_STREAM_MP2 = 0x10004;
constexpr DWORD BASS_CTYPE_STREAM_MP3 = 0x10005;
constexpr DWORD BASS_CTYPE_STREAM_WMA = 0x10300;
constexpr DWORD BASS_CTYPE_MUSIC_MOD = 0x20000;
constexpr DWORD BASS_CTYPE_MUSIC_S3M = 0x20002;
constexpr DWORD BASS_CTYPE_MUSIC_XM = 0x20003;
constexpr DWORD BASS_CTYPE_MUSIC_IT = 0x20004;

// Error codes of BASS_ErrorGetCode (kept per thread).
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;
constexpr int BASS_ERROR_FILEOPEN = 2;
constexpr int BASS_ERROR_DRIVER = 3;
constexpr int BASS_ERROR_HANDLE = 5;
constexpr int BASS_ERROR_FORMAT = 6;
constexpr int BASS_ERROR_POSITION = 7;
constexpr int BASS_ERROR_INIT = 8;
constexpr int BASS_ERROR_START = 9;
constexpr int BASS_ERROR_ALREADY = 14;
constexpr int BASS_ERROR_NOPAUSE = 16;
constexpr int BASS_ERROR_NOCHAN = 18;
constexpr int BASS_ERROR_ILLTYPE = 19;
constexpr int BASS_ERROR_ILLPARAM = 20;
constexpr int BASS_ERROR_DEVICE = 23;
constexpr int BASS_ERROR_NOPLAY = 24;
constexpr int BASS_ERROR_FREQ = 25;
constexpr int BASS_ERROR_NOTFILE = 27;
constexpr int BASS_ERROR_EMPTY = 31;
constexpr int BASS_ERROR_NONET = 32;
constexpr int BASS_ERROR_CREATE = 33;
constexpr int BASS_ERROR_NOTAVAIL = 37;
constexpr int BASS_ERROR_DECODE = 38;
constexpr int BASS_ERROR_TIMEOUT = 40;
constexpr int BASS_ERROR_FILEFORM = 41;
constexpr int BASS_ERROR_UNKNOWN = -1;
