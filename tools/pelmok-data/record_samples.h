// A record's samples and the names and times the media subcommands (export,
// plot, report) give it, from the deployment model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/deployment.h"
#include "tools/formats/audio_file.h"

namespace datatools {

// Calls f(codes) for the record's samples in order, in blocks, as
// sign-extended 24-bit codes; f sees the raw words too. False with a
// one-line reason naming the file on a read error. With `more`, stops (true)
// before a block when more() is false: a writer whose output failed.
bool ForEachRecordBlock(const Deployment& d, const Record& r,
                        const std::function<void(const std::vector<int32_t>& codes,
                                                 const std::vector<uint32_t>& words)>& f,
                        std::string* error, const std::function<bool()>& more = nullptr);

// The record's first sample in samples since 1970 UTC at the rate.
int64_t StartSample(const Deployment& d, const Record& r);

// "20261025T005939Z", the UTC start in ISO 8601 basic form; a record without
// a time is named by its file and index: "notdata-r0".
std::string RecordStem(const Deployment& d, const Record& r);

// How the record's time was found, in words: "from its name", "the cadence
// chose ... of two", "ambiguous: ... or ...", "none".
std::string TimingText(const Deployment& d, const Record& r);

// What an exported file says about the record.
AudioProvenance ProvenanceOf(const Deployment& d, const Record& r);

}  // namespace datatools
