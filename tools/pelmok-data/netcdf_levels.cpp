#include "tools/pelmok-data/netcdf_levels.h"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "hostlib/shared_library.h"
#include "tools/common/board_time.h"
#include "tools/common/version.h"

namespace datatools {
namespace {

// libnetcdf, with HDF5, curl, TLS and ICU behind it, is opened at the first
// NetCDF file rather than linked: binding it cost every pelmok-data run, a
// picture's as much as a NetCDF file's, about 27 ms of its start.
struct NetcdfCalls {
  decltype(&nc_abort) abort = nullptr;
  decltype(&nc_close_memio) close_memio = nullptr;
  decltype(&nc_create_mem) create_mem = nullptr;
  decltype(&nc_def_dim) def_dim = nullptr;
  decltype(&nc_def_var) def_var = nullptr;
  decltype(&nc_enddef) enddef = nullptr;
  decltype(&nc_put_att_double) put_att_double = nullptr;
  decltype(&nc_put_att_float) put_att_float = nullptr;
  decltype(&nc_put_att_text) put_att_text = nullptr;
  decltype(&nc_put_var1_double) put_var1_double = nullptr;
  decltype(&nc_put_var_double) put_var_double = nullptr;
  decltype(&nc_put_vara_float) put_vara_float = nullptr;
  decltype(&nc_redef) redef = nullptr;
  decltype(&nc_strerror) strerror = nullptr;
};

struct LoadedNetcdf {
  NetcdfCalls calls;
  bool loaded = false;
  std::string why;  // dlerror's line when not loaded
};

const LoadedNetcdf& Netcdf() {
  static const LoadedNetcdf netcdf = [] {
    LoadedNetcdf n;
    void* library = hostlib::OpenSharedLibrary(PELMOK_NETCDF_SONAME, &n.why);
    n.loaded = library != nullptr &&
               hostlib::BindCall(library, "nc_abort", &n.calls.abort, &n.why) &&
               hostlib::BindCall(library, "nc_close_memio", &n.calls.close_memio, &n.why) &&
               hostlib::BindCall(library, "nc_create_mem", &n.calls.create_mem, &n.why) &&
               hostlib::BindCall(library, "nc_def_dim", &n.calls.def_dim, &n.why) &&
               hostlib::BindCall(library, "nc_def_var", &n.calls.def_var, &n.why) &&
               hostlib::BindCall(library, "nc_enddef", &n.calls.enddef, &n.why) &&
               hostlib::BindCall(library, "nc_put_att_double", &n.calls.put_att_double, &n.why) &&
               hostlib::BindCall(library, "nc_put_att_float", &n.calls.put_att_float, &n.why) &&
               hostlib::BindCall(library, "nc_put_att_text", &n.calls.put_att_text, &n.why) &&
               hostlib::BindCall(library, "nc_put_var1_double", &n.calls.put_var1_double, &n.why) &&
               hostlib::BindCall(library, "nc_put_var_double", &n.calls.put_var_double, &n.why) &&
               hostlib::BindCall(library, "nc_put_vara_float", &n.calls.put_vara_float, &n.why) &&
               hostlib::BindCall(library, "nc_redef", &n.calls.redef, &n.why) &&
               hostlib::BindCall(library, "nc_strerror", &n.calls.strerror, &n.why);
    return n;
  }();
  return netcdf;
}

// The calls, once Create has seen them loaded.
const NetcdfCalls& Nc() { return Netcdf().calls; }

int Text(int ncid, int var, const char* name, const std::string& value) {
  return Nc().put_att_text(ncid, var, name, value.size(), value.c_str());
}

int Double(int ncid, int var, const char* name, double value) {
  return Nc().put_att_double(ncid, var, name, NC_DOUBLE, 1, &value);
}

// A coordinate variable of band centres and its bounds, CF style.
int DefineFrequency(int ncid, const std::vector<Band>& bands, int* frequencyDim) {
  int nv = 0, frequency = 0, bounds = 0;
  int s = Nc().def_dim(ncid, "frequency", bands.size(), frequencyDim);
  if (s == NC_NOERR) s = Nc().def_dim(ncid, "nv", 2, &nv);
  if (s == NC_NOERR) s = Nc().def_var(ncid, "frequency", NC_DOUBLE, 1, frequencyDim, &frequency);
  const int boundsDims[2] = {*frequencyDim, nv};
  if (s == NC_NOERR) s = Nc().def_var(ncid, "frequency_bounds", NC_DOUBLE, 2, boundsDims, &bounds);
  if (s == NC_NOERR) s = Text(ncid, frequency, "units", "Hz");
  if (s == NC_NOERR)
    s = Text(ncid, frequency, "long_name", "centre frequency of the hybrid millidecade band");
  if (s == NC_NOERR) s = Text(ncid, frequency, "bounds", "frequency_bounds");
  if (s == NC_NOERR) s = Text(ncid, bounds, "units", "Hz");
  if (s == NC_NOERR) s = Text(ncid, bounds, "long_name", "lower and upper edge of the band");
  if (s != NC_NOERR) return s;
  std::vector<double> centres, edges;
  for (const Band& b : bands) {
    centres.push_back(b.centreHz);
    edges.push_back(b.lowHz);
    edges.push_back(b.highHz);
  }
  s = Nc().enddef(ncid);
  if (s == NC_NOERR && !bands.empty()) s = Nc().put_var_double(ncid, frequency, centres.data());
  if (s == NC_NOERR && !bands.empty()) s = Nc().put_var_double(ncid, bounds, edges.data());
  if (s == NC_NOERR) s = Nc().redef(ncid);
  return s;
}

}  // namespace

NetcdfLevels::~NetcdfLevels() {
  if (ncid_ >= 0) Nc().abort(ncid_);
}

bool NetcdfLevels::Fail(int status, std::string* error) {
  *error = path_ + ": NetCDF: " + Nc().strerror(status);
  if (ncid_ >= 0) Nc().abort(ncid_);
  ncid_ = -1;
  return false;
}

bool NetcdfLevels::Create(const std::string& path, const LevelBands& bands,
                          const NetcdfContext& context, std::string* error) {
  path_ = path;
  times_ = 0;
  bands_ = bands.hmd.size();
  if (!Netcdf().loaded) {
    *error = path + ": NetCDF: " + Netcdf().why;
    return false;
  }
  const int s = Nc().create_mem(path.c_str(), NC_NETCDF4, 1 << 20, &ncid_);
  if (s != NC_NOERR) return Fail(s, error);
  return Define(bands, context, error);
}

bool NetcdfLevels::Define(const LevelBands& bands, const NetcdfContext& context,
                          std::string* error) {
  int timeDim = 0, frequencyDim = 0;
  int s = Nc().def_dim(ncid_, "time", NC_UNLIMITED, &timeDim);
  if (s == NC_NOERR) s = DefineFrequency(ncid_, bands.hmd, &frequencyDim);
  if (s == NC_NOERR) s = Nc().def_var(ncid_, "time", NC_DOUBLE, 1, &timeDim, &timeVar_);
  if (s == NC_NOERR) s = Text(ncid_, timeVar_, "units", "seconds since 1970-01-01 00:00:00 UTC");
  if (s == NC_NOERR) s = Text(ncid_, timeVar_, "standard_name", "time");
  if (s == NC_NOERR) s = Text(ncid_, timeVar_, "calendar", "standard");
  if (s == NC_NOERR) s = Text(ncid_, timeVar_, "long_name", "UTC start of the record");
  if (s == NC_NOERR) s = Nc().def_var(ncid_, "duration", NC_DOUBLE, 1, &timeDim, &durationVar_);
  if (s == NC_NOERR) s = Text(ncid_, durationVar_, "units", "s");
  if (s == NC_NOERR) s = Text(ncid_, durationVar_, "long_name", "length of the record");
  const int dims[2] = {timeDim, frequencyDim};
  if (s == NC_NOERR) s = Nc().def_var(ncid_, "psd", NC_FLOAT, 2, dims, &psdVar_);
  const float fill = std::numeric_limits<float>::quiet_NaN();
  if (s == NC_NOERR) s = Nc().put_att_float(ncid_, psdVar_, "_FillValue", NC_FLOAT, 1, &fill);
  if (s == NC_NOERR) s = Text(ncid_, psdVar_, "units", context.densityUnit);
  if (s == NC_NOERR)
    s = Text(ncid_, psdVar_, "long_name", "power spectral density in hybrid millidecade bands");
  if (s == NC_NOERR)
    s = Text(ncid_, psdVar_, "cell_methods",
             "time: mean (Welch: periodic Hann windows, 50% overlap)");
  if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, "Conventions", "CF-1.8");
  if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, "title", context.title);
  if (s == NC_NOERR)
    s = Text(ncid_, NC_GLOBAL, "source",
             "Pelmok receiver data files, " + tools::ProgramVersion("pelmok-data") + " levels");
  if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, "calibration", context.calibration);
  if (s == NC_NOERR) s = Double(ncid_, NC_GLOBAL, "sample_rate_hz", bands.rateHz);
  if (s == NC_NOERR) s = Double(ncid_, NC_GLOBAL, "window_seconds", bands.windowSeconds);
  if (s == NC_NOERR)
    s = Text(ncid_, NC_GLOBAL, "frequency_bands",
             "hybrid millidecade (Martin et al. 2021): 1 Hz bands centred on 0 to 434 Hz, then "
             "millidecade bands 10^(n/1000) Hz from n = 2639, the first from 434.5 Hz");
  std::vector<double> hz, db;
  for (const CalibrationPoint& p : context.curve) {
    hz.push_back(p.hz);
    db.push_back(p.sensitivityDb);
  }
  if (s == NC_NOERR && !hz.empty())
    s = Nc().put_att_double(ncid_, NC_GLOBAL, "calibration_frequency_hz", NC_DOUBLE, hz.size(),
                            hz.data());
  if (s == NC_NOERR && !db.empty())
    s = Nc().put_att_double(ncid_, NC_GLOBAL, "calibration_sensitivity_db_re_1V_per_uPa", NC_DOUBLE,
                            db.size(), db.data());
  for (const auto& [name, value] : context.attributes)
    if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, name.c_str(), value);
  if (s == NC_NOERR) s = Nc().enddef(ncid_);
  return s == NC_NOERR || Fail(s, error);
}

bool NetcdfLevels::Append(double startUtc, double seconds, const RecordLevels& levels,
                          std::string* error) {
  std::vector<float> row(bands_, std::numeric_limits<float>::quiet_NaN());
  for (size_t i = 0; i < bands_ && i < levels.hmdDb.size(); ++i)
    row[i] = static_cast<float>(levels.hmdDb[i]);
  const size_t at[2] = {times_, 0}, count[2] = {1, bands_};
  int s = Nc().put_var1_double(ncid_, timeVar_, at, &startUtc);
  if (s == NC_NOERR) s = Nc().put_var1_double(ncid_, durationVar_, at, &seconds);
  if (s == NC_NOERR && bands_ > 0) s = Nc().put_vara_float(ncid_, psdVar_, at, count, row.data());
  if (s != NC_NOERR) return Fail(s, error);
  if (times_ == 0) first_ = startUtc;
  last_ = startUtc + seconds;
  ++times_;
  return true;
}

bool NetcdfLevels::Commit(const OutputPolicy& policy, std::string* error) {
  int s = Nc().redef(ncid_);
  if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, "time_coverage_start", UtcText(first_, 3));
  if (s == NC_NOERR) s = Text(ncid_, NC_GLOBAL, "time_coverage_end", UtcText(last_, 3));
  if (s == NC_NOERR) s = Nc().enddef(ncid_);
  NC_memio memory{};
  if (s == NC_NOERR) s = Nc().close_memio(ncid_, &memory);
  if (s != NC_NOERR) return Fail(s, error);
  ncid_ = -1;
  OutputFile out;
  const bool opened = out.Open(path_, policy, error);
  const bool wrote = opened && out.Write(memory.memory, memory.size);
  std::free(memory.memory);
  if (!opened) return false;
  return out.Commit(error) && wrote;
}

}  // namespace datatools
