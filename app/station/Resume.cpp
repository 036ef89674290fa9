#include "Resume.h"

namespace station {

unsigned PlayingRow(unsigned savedRow, const LastRun& last, const std::string& stateRowFile) {
    const bool stateKnowsBetter = !last.ended && last.item.list == kPlaylistName &&
                                  last.item.row > 0 && !last.item.file.empty() &&
                                  stateRowFile == last.item.file;
    return stateKnowsBetter ? last.item.row : savedRow;
}

ResumePlan PlanResume(unsigned savedRow, const std::string& rowFile, const std::string& savedFile,
                      std::uint32_t savedPositionMs, const LastRun& last) {
    ResumePlan plan;
    if (savedRow == 0) return plan;  // nothing marked: the first row, as Play would
    plan.row = savedRow;
    if (!last.ended && last.uncleanEnds >= kCrashesBeforeSkip && rowFile == last.item.file) {
        plan.row = savedRow + 1;
        plan.skipped = true;
        return plan;
    }
    if (!rowFile.empty() && rowFile == savedFile && savedPositionMs > kResumeLeadMs)
        plan.fromMs = savedPositionMs - kResumeLeadMs;
    return plan;
}

std::string PluginToLeaveOut(const LastRun& last) {
    return !last.ended && last.pluginUncleanEnds >= kCrashesBeforeLeftOut ? last.plugin : "";
}

}  // namespace station
