// The six files a trace_align run writes into the working directory, named
// once for the run, its guards and the tests.
#pragma once

inline constexpr const char* kRdFrameDat = "rd_frame_dat";
inline constexpr const char* kRdTrace = "rd_trace";
inline constexpr const char* kSdTrace = "sd_trace";
inline constexpr const char* kSdFrameDat[3] = {"sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};

// All six, in the order a run creates them.
inline constexpr const char* kOutputNames[6] = {kRdFrameDat,    kRdTrace,       kSdTrace,
                                                kSdFrameDat[0], kSdFrameDat[1], kSdFrameDat[2]};
