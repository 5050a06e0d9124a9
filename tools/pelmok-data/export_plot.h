// Data files to audio files and tables, and to pictures.
#pragma once

#include <cstdint>
#include <string>

namespace datatools {

enum class ExportFormat { kWav, kFlac, kCsv };

// "wav", "flac" or "csv"; false for anything else.
bool ParseExportFormat(const std::string& text, ExportFormat* format);

// WAV (with a broadcast-WAV bext chunk) or FLAC (with Vorbis comments) holding
// exactly the converter codes as 24-bit PCM, or CSV of index, time, code and
// volts. The time in the input's name, when it has one, goes into the file.
bool ExportDataFile(const std::string& input, const std::string& output, ExportFormat format,
                    uint32_t rateHz, std::string* error);

struct PlotSize {
  int width = 1200;
  int height = 800;
};

// A file: its waveform in volts above its spectrogram. A folder: a long-term
// spectrogram, one column per data file, on the files' real time axis.
bool PlotData(const std::string& input, const std::string& output, uint32_t rateHz,
              PlotSize size, std::string* error);

}  // namespace datatools
