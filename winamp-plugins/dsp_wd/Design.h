// The leveller's design: every figure the chain uses, with its reason.
//
// The chain is the usual one of broadcast processing: a slow gated leveller
// rides the long-term level of each programme to one target, a gentle
// compressor evens out what remains within a passage, and a look-ahead peak
// limiter guarantees the ceiling. The structure of the compressor (gain
// computed from the level in dB with a soft knee, then smoothed in the dB
// domain with separate attack and release) is the feed-forward design of
// Giannoulis, Massberg and Reiss, "Digital Dynamic Range Compressor Design -
// A Tutorial and Analysis", JAES 60(6), 2012. Levels are mean-square levels of
// the channels together (dBFS, a full-scale sine reads -3 dB), so one gain
// serves every channel and the stereo image stays where it is.
#pragma once

namespace dspwd {

// --- Leveller (automatic gain control) ---------------------------------------
// Aimed at: with the compressor's steady ~4 dB below, programme leaves the
// chain near -24 dBFS RMS, about -23 LUFS for music (EBU R128's programme
// level), with headroom for the limiter to touch only the peaks.
constexpr double kLevellerTargetDb = -20.0;
// Range: masters from the 1960s to the 2000s differ by up to ~15 dB in
// loudness; +18/-12 dB covers that without raising a near-silent recording
// into noise.
constexpr double kLevellerMaxBoostDb = 18.0;
constexpr double kLevellerMaxCutDb = -12.0;
// Gate: below -45 dBFS is a pause, a fade or the noise of a quiet intro; the
// leveller holds its gain there instead of pulling the noise up.
constexpr double kLevellerGateDb = -45.0;
// Level detector: 400 ms, the momentary-loudness window of ITU-R BS.1770,
// long enough to follow a phrase rather than a beat.
constexpr double kLevellerDetectorSeconds = 0.4;
// Gain time constants: seconds, so the gain rides passages, never notes;
// cutting twice as fast as boosting, since a loud start is the worse fault.
constexpr double kLevellerCutSeconds = 3.0;
constexpr double kLevellerBoostSeconds = 6.0;
// The leveller's gain is worked out every 16 frames (0.36 ms at 44.1 kHz):
// its steps are then ~0.003 dB at the fastest, far below hearing.
constexpr int kLevellerControlFrames = 16;

// --- Compressor ----------------------------------------------------------------
// Threshold 6 dB under the leveller's target and 3:1: programme at the target
// is held ~4 dB down, louder passages are pulled in by two thirds of their
// excess - the "density" of broadcast sound without audible squashing.
constexpr double kCompThresholdDb = -26.0;
constexpr double kCompRatio = 3.0;
// An 8 dB soft knee: the ratio comes in gradually, so the gain does not
// switch audibly as the level crosses the threshold.
constexpr double kCompKneeDb = 8.0;
// Level detector: a 2 ms mean square, quick beside the attack (it adds ~2 ms
// to it) and smooth enough on a tone once the attack has filtered it.
constexpr double kCompDetectorSeconds = 0.002;
// Attack 30 ms lets the first transients of a note through (the limiter
// catches what passes the ceiling); release 300 ms recovers within a phrase
// without pumping on the beat.
constexpr double kCompAttackSeconds = 0.030;
constexpr double kCompReleaseSeconds = 0.300;

// --- Peak limiter ---------------------------------------------------------------
// Ceiling -1 dBFS (EBU R128's maximum peak for programme): 32767 * 10^(-1/20).
constexpr int kCeilingSample = 29204;
// Look-ahead 5 ms: the gain falls over the whole window before a peak, so it
// never clips, and the delay is short enough that nothing audible is lost when
// a seek discards it (the plug-in interface cannot flush delayed samples).
constexpr double kLookAheadSeconds = 0.005;
// Release 80 ms: fast enough that the limiter leaves no hole after a drum hit,
// slow enough not to distort bass.
constexpr double kLimiterReleaseSeconds = 0.080;

// Levels below this (-120 dBFS) count as silence: detectors never decay into
// the subnormal numbers that slow processors down.
constexpr double kFloorPower = 1e-12;
// The sample rates and channel counts the chain handles; anything else
// passes untouched.
constexpr int kMaxChannels = 8;
constexpr int kMaxSampleRate = 768000;

}  // namespace dspwd
