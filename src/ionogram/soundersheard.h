#pragma once

// sounders-heard.csv: the confirmed sounders of one run of listening, one row each, rewritten
// whole whenever the list changes so a reader never sees half a file.

#include "core/status.h"
#include "ionogram/soundergrouper.h"

#include <QString>
#include <vector>

namespace ionogram {

inline constexpr char kSoundersHeardFile[] = "sounders-heard.csv";
inline constexpr char kSoundersHeardHeader[] =
    "rate_khz_s,period_s,chirp_time_s,heard,snr_db,first_heard_utc,last_heard_utc,listen_khz";

// The file's text: the header, then one line per confirmed sounder (unconfirmed ones are left
// out), each line ended by a newline.
QString SoundersHeardCsv(const std::vector<HeardSounder>& sounders, double listenKhz);
// The lines after the header, for sounders heard on one frequency.
QString SoundersHeardRows(const std::vector<HeardSounder>& sounders, double listenKhz);

// Writes the text to path under a temporary name renamed at the end.
Status WriteSoundersHeard(const QString& path, const QString& text);

} // namespace ionogram
