#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "option_text.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

struct TOptionsPreset {
  const char *Name;
  const char *Value;
};

// The built-in encoder presets, searched from the first row.
const TOptionsPreset GOptionsPresets[] = {
    {"libx264-baseline", "coder=0\n"
                         "bf=0\n"
                         "flags2=-wpred-dct8x8\n"
                         "wpredp=0"},
    {"libx264-default", "coder=1\n"
                        "flags=+loop\n"
                        "cmp=+chroma\n"
                        "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                        "me_method=hex\n"
                        "subq=7\n"
                        "me_range=16\n"
                        "g=250\n"
                        "keyint_min=25\n"
                        "sc_threshold=40\n"
                        "i_qfactor=0.71\n"
                        "b_strategy=1\n"
                        "qcomp=0.6\n"
                        "qmin=10\n"
                        "qmax=51\n"
                        "qdiff=4\n"
                        "bf=3\n"
                        "refs=3\n"
                        "directpred=1\n"
                        "trellis=1\n"
                        "flags2=+mixed_refs+wpred+dct8x8+fastpskip\n"
                        "wpredp=2"},
    {"libx264-fast", "coder=1\n"
                     "flags=+loop\n"
                     "cmp=+chroma\n"
                     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                     "me_method=hex\n"
                     "subq=6\n"
                     "me_range=16\n"
                     "g=250\n"
                     "keyint_min=25\n"
                     "sc_threshold=40\n"
                     "i_qfactor=0.71\n"
                     "b_strategy=1\n"
                     "qcomp=0.6\n"
                     "qmin=10\n"
                     "qmax=51\n"
                     "qdiff=4\n"
                     "bf=3\n"
                     "refs=2\n"
                     "directpred=1\n"
                     "trellis=1\n"
                     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
                     "wpredp=2"},
    {"libx264-fast_firstpass", "coder=1\n"
                               "flags=+loop\n"
                               "cmp=+chroma\n"
                               "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                               "me_method=dia\n"
                               "subq=2\n"
                               "me_range=16\n"
                               "g=250\n"
                               "keyint_min=25\n"
                               "sc_threshold=40\n"
                               "i_qfactor=0.71\n"
                               "b_strategy=1\n"
                               "qcomp=0.6\n"
                               "qmin=10\n"
                               "qmax=51\n"
                               "qdiff=4\n"
                               "bf=3\n"
                               "refs=1\n"
                               "directpred=1\n"
                               "trellis=0\n"
                               "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                               "wpredp=2"},
    {"libx264-faster", "coder=1\n"
                       "flags=+loop\n"
                       "cmp=+chroma\n"
                       "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                       "me_method=hex\n"
                       "subq=4\n"
                       "me_range=16\n"
                       "g=250\n"
                       "keyint_min=25\n"
                       "sc_threshold=40\n"
                       "i_qfactor=0.71\n"
                       "b_strategy=1\n"
                       "qcomp=0.6\n"
                       "qmin=10\n"
                       "qmax=51\n"
                       "qdiff=4\n"
                       "bf=3\n"
                       "refs=2\n"
                       "directpred=1\n"
                       "trellis=1\n"
                       "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
                       "wpredp=1"},
    {"libx264-faster_firstpass", "coder=1\n"
                                 "flags=+loop\n"
                                 "cmp=+chroma\n"
                                 "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                 "me_method=dia\n"
                                 "subq=2\n"
                                 "me_range=16\n"
                                 "g=250\n"
                                 "keyint_min=25\n"
                                 "sc_threshold=40\n"
                                 "i_qfactor=0.71\n"
                                 "b_strategy=1\n"
                                 "qcomp=0.6\n"
                                 "qmin=10\n"
                                 "qmax=51\n"
                                 "qdiff=4\n"
                                 "bf=3\n"
                                 "refs=1\n"
                                 "directpred=1\n"
                                 "trellis=0\n"
                                 "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                                 "wpredp=1"},
    {"libx264-fastfirstpass", "coder=1\n"
                              "flags=+loop\n"
                              "cmp=+chroma\n"
                              "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\n"
                              "me_method=dia\n"
                              "subq=2\n"
                              "me_range=16\n"
                              "g=250\n"
                              "keyint_min=25\n"
                              "sc_threshold=40\n"
                              "i_qfactor=0.71\n"
                              "b_strategy=1\n"
                              "qcomp=0.6\n"
                              "qmin=10\n"
                              "qmax=51\n"
                              "qdiff=4\n"
                              "bf=3\n"
                              "refs=1\n"
                              "directpred=3\n"
                              "trellis=0\n"
                              "flags2=-bpyramid-wpred-mixed_refs-dct8x8+fastpskip\n"
                              "wpredp=2"},
    {"libx264-hq", "coder=1\n"
                   "flags=+loop\n"
                   "cmp=+chroma\n"
                   "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                   "me_method=umh\n"
                   "subq=8\n"
                   "me_range=16\n"
                   "g=250\n"
                   "keyint_min=25\n"
                   "sc_threshold=40\n"
                   "i_qfactor=0.71\n"
                   "b_strategy=2\n"
                   "qcomp=0.6\n"
                   "qmin=10\n"
                   "qmax=51\n"
                   "qdiff=4\n"
                   "bf=3\n"
                   "refs=4\n"
                   "directpred=3\n"
                   "trellis=1\n"
                   "flags2=+wpred+mixed_refs+dct8x8+fastpskip\n"
                   "wpredp=2"},
    {"libx264-ipod320", "coder=0\n"
                        "bf=0\n"
                        "flags2=-wpred-dct8x8\n"
                        "level=13\n"
                        "maxrate=768000\n"
                        "bufsize=3000000\n"
                        "wpredp=0"},
    {"libx264-ipod640", "coder=0\n"
                        "bf=0\n"
                        "refs=1\n"
                        "flags2=-wpred-dct8x8\n"
                        "level=30\n"
                        "maxrate=10000000\n"
                        "bufsize=10000000\n"
                        "wpredp=0"},
    {"libx264-lossless_fast", "coder=0\n"
                              "flags=+loop\n"
                              "cmp=+chroma\n"
                              "partitions=-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8\n"
                              "me_method=hex\n"
                              "subq=3\n"
                              "me_range=16\n"
                              "g=250\n"
                              "keyint_min=25\n"
                              "sc_threshold=40\n"
                              "i_qfactor=0.71\n"
                              "b_strategy=1\n"
                              "qcomp=0.6\n"
                              "qmin=10\n"
                              "qmax=51\n"
                              "qdiff=4\n"
                              "directpred=1\n"
                              "flags2=+fastpskip\n"
                              "cqp=0\n"
                              "wpredp=0"},
    {"libx264-lossless_max", "coder=1\n"
                             "flags=+loop\n"
                             "cmp=+chroma\n"
                             "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
                             "me_method=esa\n"
                             "subq=8\n"
                             "me_range=16\n"
                             "g=250\n"
                             "keyint_min=25\n"
                             "sc_threshold=40\n"
                             "i_qfactor=0.71\n"
                             "b_strategy=1\n"
                             "qcomp=0.6\n"
                             "qmin=10\n"
                             "qmax=51\n"
                             "qdiff=4\n"
                             "refs=16\n"
                             "directpred=1\n"
                             "flags2=+mixed_refs+dct8x8+fastpskip\n"
                             "cqp=0\n"
                             "wpredp=2"},
    {"libx264-lossless_medium", "coder=1\n"
                                "flags=+loop\n"
                                "cmp=+chroma\n"
                                "partitions=-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
                                "me_method=hex\n"
                                "subq=5\n"
                                "me_range=16\n"
                                "g=250\n"
                                "keyint_min=25\n"
                                "sc_threshold=40\n"
                                "i_qfactor=0.71\n"
                                "b_strategy=1\n"
                                "qcomp=0.6\n"
                                "qmin=10\n"
                                "qmax=51\n"
                                "qdiff=4\n"
                                "directpred=1\n"
                                "flags2=+fastpskip\n"
                                "cqp=0\n"
                                "wpredp=2"},
    {"libx264-lossless_slow", "coder=1\n"
                              "flags=+loop\n"
                              "cmp=+chroma\n"
                              "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
                              "me_method=umh\n"
                              "subq=6\n"
                              "me_range=16\n"
                              "g=250\n"
                              "keyint_min=25\n"
                              "sc_threshold=40\n"
                              "i_qfactor=0.71\n"
                              "b_strategy=1\n"
                              "qcomp=0.6\n"
                              "qmin=10\n"
                              "qmax=51\n"
                              "qdiff=4\n"
                              "refs=2\n"
                              "directpred=1\n"
                              "flags2=+dct8x8+fastpskip\n"
                              "cqp=0\n"
                              "wpredp=2"},
    {"libx264-lossless_slower", "coder=1\n"
                                "flags=+loop\n"
                                "cmp=+chroma\n"
                                "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
                                "me_method=umh\n"
                                "subq=8\n"
                                "me_range=16\n"
                                "g=250\n"
                                "keyint_min=25\n"
                                "sc_threshold=40\n"
                                "i_qfactor=0.71\n"
                                "b_strategy=1\n"
                                "qcomp=0.6\n"
                                "qmin=10\n"
                                "qmax=51\n"
                                "qdiff=4\n"
                                "refs=4\n"
                                "directpred=1\n"
                                "flags2=+mixed_refs+dct8x8+fastpskip\n"
                                "cqp=0\n"
                                "wpredp=2"},
    {"libx264-lossless_ultrafast", "coder=0\n"
                                   "flags=+loop\n"
                                   "cmp=+chroma\n"
                                   "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\n"
                                   "me_method=dia\n"
                                   "subq=0\n"
                                   "me_range=16\n"
                                   "g=250\n"
                                   "keyint_min=25\n"
                                   "sc_threshold=40\n"
                                   "i_qfactor=0.71\n"
                                   "b_strategy=1\n"
                                   "qcomp=0.6\n"
                                   "qmin=10\n"
                                   "qmax=51\n"
                                   "qdiff=4\n"
                                   "directpred=1\n"
                                   "flags2=+fastpskip\n"
                                   "cqp=0"},
    {"libx264-main", "flags2=-dct8x8"},
    {"libx264-max", "coder=1\n"
                    "flags=+loop\n"
                    "cmp=+chroma\n"
                    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
                    "me_method=tesa\n"
                    "subq=10\n"
                    "me_range=24\n"
                    "g=250\n"
                    "keyint_min=25\n"
                    "sc_threshold=40\n"
                    "i_qfactor=0.71\n"
                    "b_strategy=2\n"
                    "qcomp=0.6\n"
                    "qmin=10\n"
                    "qmax=51\n"
                    "qdiff=4\n"
                    "bf=3\n"
                    "refs=16\n"
                    "directpred=3\n"
                    "trellis=2\n"
                    "flags2=+wpred+mixed_refs+dct8x8-fastpskip\n"
                    "wpredp=2"},
    {"libx264-medium", "coder=1\n"
                       "flags=+loop\n"
                       "cmp=+chroma\n"
                       "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                       "me_method=hex\n"
                       "subq=7\n"
                       "me_range=16\n"
                       "g=250\n"
                       "keyint_min=25\n"
                       "sc_threshold=40\n"
                       "i_qfactor=0.71\n"
                       "b_strategy=1\n"
                       "qcomp=0.6\n"
                       "qmin=10\n"
                       "qmax=51\n"
                       "qdiff=4\n"
                       "bf=3\n"
                       "refs=3\n"
                       "directpred=1\n"
                       "trellis=1\n"
                       "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
                       "wpredp=2"},
    {"libx264-medium_firstpass", "coder=1\n"
                                 "flags=+loop\n"
                                 "cmp=+chroma\n"
                                 "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                 "me_method=dia\n"
                                 "subq=2\n"
                                 "me_range=16\n"
                                 "g=250\n"
                                 "keyint_min=25\n"
                                 "sc_threshold=40\n"
                                 "i_qfactor=0.71\n"
                                 "b_strategy=1\n"
                                 "qcomp=0.6\n"
                                 "qmin=10\n"
                                 "qmax=51\n"
                                 "qdiff=4\n"
                                 "bf=3\n"
                                 "refs=1\n"
                                 "directpred=1\n"
                                 "trellis=0\n"
                                 "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                                 "wpredp=2"},
    {"libx264-normal", "coder=1\n"
                       "flags=+loop\n"
                       "cmp=+chroma\n"
                       "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                       "me_method=hex\n"
                       "subq=6\n"
                       "me_range=16\n"
                       "g=250\n"
                       "keyint_min=25\n"
                       "sc_threshold=40\n"
                       "i_qfactor=0.71\n"
                       "b_strategy=1\n"
                       "qcomp=0.6\n"
                       "qmin=10\n"
                       "qmax=51\n"
                       "qdiff=4\n"
                       "bf=3\n"
                       "refs=2\n"
                       "directpred=3\n"
                       "trellis=0\n"
                       "flags2=+wpred+dct8x8+fastpskip\n"
                       "wpredp=2"},
    {"libx264-placebo", "coder=1\n"
                        "flags=+loop\n"
                        "cmp=+chroma\n"
                        "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
                        "me_method=tesa\n"
                        "subq=10\n"
                        "me_range=24\n"
                        "g=250\n"
                        "keyint_min=25\n"
                        "sc_threshold=40\n"
                        "i_qfactor=0.71\n"
                        "b_strategy=2\n"
                        "qcomp=0.6\n"
                        "qmin=10\n"
                        "qmax=51\n"
                        "qdiff=4\n"
                        "bf=16\n"
                        "refs=16\n"
                        "directpred=3\n"
                        "trellis=2\n"
                        "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
                        "wpredp=2"},
    {"libx264-placebo_firstpass", "coder=1\n"
                                  "flags=+loop\n"
                                  "cmp=+chroma\n"
                                  "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
                                  "me_method=tesa\n"
                                  "subq=10\n"
                                  "me_range=24\n"
                                  "g=250\n"
                                  "keyint_min=25\n"
                                  "sc_threshold=40\n"
                                  "i_qfactor=0.71\n"
                                  "b_strategy=2\n"
                                  "qcomp=0.6\n"
                                  "qmin=10\n"
                                  "qmax=51\n"
                                  "qdiff=4\n"
                                  "bf=16\n"
                                  "refs=16\n"
                                  "directpred=3\n"
                                  "trellis=2\n"
                                  "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
                                  "wpredp=2"},
    {"libx264-slow", "coder=1\n"
                     "flags=+loop\n"
                     "cmp=+chroma\n"
                     "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                     "me_method=umh\n"
                     "subq=8\n"
                     "me_range=16\n"
                     "g=250\n"
                     "keyint_min=25\n"
                     "sc_threshold=40\n"
                     "i_qfactor=0.71\n"
                     "b_strategy=2\n"
                     "qcomp=0.6\n"
                     "qmin=10\n"
                     "qmax=51\n"
                     "qdiff=4\n"
                     "bf=3\n"
                     "refs=5\n"
                     "directpred=3\n"
                     "trellis=1\n"
                     "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
                     "wpredp=2"},
    {"libx264-slow_firstpass", "coder=1\n"
                               "flags=+loop\n"
                               "cmp=+chroma\n"
                               "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                               "me_method=dia\n"
                               "subq=2\n"
                               "me_range=16\n"
                               "g=250\n"
                               "keyint_min=25\n"
                               "sc_threshold=40\n"
                               "i_qfactor=0.71\n"
                               "b_strategy=2\n"
                               "qcomp=0.6\n"
                               "qmin=10\n"
                               "qmax=51\n"
                               "qdiff=4\n"
                               "bf=3\n"
                               "refs=1\n"
                               "directpred=3\n"
                               "trellis=0\n"
                               "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                               "wpredp=2"},
    {"libx264-slower", "coder=1\n"
                       "flags=+loop\n"
                       "cmp=+chroma\n"
                       "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
                       "me_method=umh\n"
                       "subq=9\n"
                       "me_range=16\n"
                       "g=250\n"
                       "keyint_min=25\n"
                       "sc_threshold=40\n"
                       "i_qfactor=0.71\n"
                       "b_strategy=2\n"
                       "qcomp=0.6\n"
                       "qmin=10\n"
                       "qmax=51\n"
                       "qdiff=4\n"
                       "bf=3\n"
                       "refs=8\n"
                       "directpred=3\n"
                       "trellis=2\n"
                       "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
                       "wpredp=2"},
    {"libx264-slower_firstpass", "coder=1\n"
                                 "flags=+loop\n"
                                 "cmp=+chroma\n"
                                 "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                 "me_method=dia\n"
                                 "subq=2\n"
                                 "me_range=16\n"
                                 "g=250\n"
                                 "keyint_min=25\n"
                                 "sc_threshold=40\n"
                                 "i_qfactor=0.71\n"
                                 "b_strategy=2\n"
                                 "qcomp=0.6\n"
                                 "qmin=10\n"
                                 "qmax=51\n"
                                 "qdiff=4\n"
                                 "bf=3\n"
                                 "refs=1\n"
                                 "directpred=3\n"
                                 "trellis=0\n"
                                 "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                                 "wpredp=2"},
    {"libx264-slowfirstpass", "coder=1\n"
                              "flags=+loop\n"
                              "cmp=+chroma\n"
                              "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                              "me_method=hex\n"
                              "subq=6\n"
                              "me_range=16\n"
                              "g=250\n"
                              "keyint_min=25\n"
                              "sc_threshold=40\n"
                              "i_qfactor=0.71\n"
                              "b_strategy=2\n"
                              "qcomp=0.6\n"
                              "qmin=10\n"
                              "qmax=51\n"
                              "qdiff=4\n"
                              "bf=3\n"
                              "refs=1\n"
                              "directpred=3\n"
                              "trellis=0\n"
                              "flags2=+wpred+dct8x8+fastpskip\n"
                              "wpredp=2"},
    {"libx264-superfast", "coder=1\n"
                          "flags=+loop\n"
                          "cmp=+chroma\n"
                          "partitions=+parti8x8+parti4x4-partp8x8-partb8x8\n"
                          "me_method=dia\n"
                          "subq=1\n"
                          "me_range=16\n"
                          "g=250\n"
                          "keyint_min=25\n"
                          "sc_threshold=40\n"
                          "i_qfactor=0.71\n"
                          "b_strategy=1\n"
                          "qcomp=0.6\n"
                          "qmin=10\n"
                          "qmax=51\n"
                          "qdiff=4\n"
                          "bf=3\n"
                          "refs=1\n"
                          "directpred=1\n"
                          "trellis=0\n"
                          "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
                          "wpredp=0"},
    {"libx264-superfast_firstpass", "coder=1\n"
                                    "flags=+loop\n"
                                    "cmp=+chroma\n"
                                    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                    "me_method=dia\n"
                                    "subq=1\n"
                                    "me_range=16\n"
                                    "g=250\n"
                                    "keyint_min=25\n"
                                    "sc_threshold=40\n"
                                    "i_qfactor=0.71\n"
                                    "b_strategy=1\n"
                                    "qcomp=0.6\n"
                                    "qmin=10\n"
                                    "qmax=51\n"
                                    "qdiff=4\n"
                                    "bf=3\n"
                                    "refs=1\n"
                                    "directpred=1\n"
                                    "trellis=0\n"
                                    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
                                    "wpredp=0"},
    {"libx264-ultrafast", "coder=0\n"
                          "flags=-loop\n"
                          "cmp=+chroma\n"
                          "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                          "me_method=dia\n"
                          "subq=0\n"
                          "me_range=16\n"
                          "g=250\n"
                          "keyint_min=25\n"
                          "sc_threshold=0\n"
                          "i_qfactor=0.71\n"
                          "b_strategy=0\n"
                          "qcomp=0.6\n"
                          "qmin=10\n"
                          "qmax=51\n"
                          "qdiff=4\n"
                          "bf=0\n"
                          "refs=1\n"
                          "directpred=1\n"
                          "trellis=0\n"
                          "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
                          "wpredp=0"},
    {"libx264-ultrafast_firstpass", "coder=0\n"
                                    "flags=-loop\n"
                                    "cmp=+chroma\n"
                                    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                    "me_method=dia\n"
                                    "subq=0\n"
                                    "me_range=16\n"
                                    "g=250\n"
                                    "keyint_min=25\n"
                                    "sc_threshold=0\n"
                                    "i_qfactor=0.71\n"
                                    "b_strategy=0\n"
                                    "qcomp=0.6\n"
                                    "qmin=10\n"
                                    "qmax=51\n"
                                    "qdiff=4\n"
                                    "bf=0\n"
                                    "refs=1\n"
                                    "directpred=1\n"
                                    "trellis=0\n"
                                    "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
                                    "wpredp=0"},
    {"libx264-veryfast", "coder=1\n"
                         "flags=+loop\n"
                         "cmp=+chroma\n"
                         "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
                         "me_method=hex\n"
                         "subq=2\n"
                         "me_range=16\n"
                         "g=250\n"
                         "keyint_min=25\n"
                         "sc_threshold=40\n"
                         "i_qfactor=0.71\n"
                         "b_strategy=1\n"
                         "qcomp=0.6\n"
                         "qmin=10\n"
                         "qmax=51\n"
                         "qdiff=4\n"
                         "bf=3\n"
                         "refs=1\n"
                         "directpred=1\n"
                         "trellis=0\n"
                         "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
                         "wpredp=0"},
    {"libx264-veryfast_firstpass", "coder=1\n"
                                   "flags=+loop\n"
                                   "cmp=+chroma\n"
                                   "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                   "me_method=dia\n"
                                   "subq=2\n"
                                   "me_range=16\n"
                                   "g=250\n"
                                   "keyint_min=25\n"
                                   "sc_threshold=40\n"
                                   "i_qfactor=0.71\n"
                                   "b_strategy=1\n"
                                   "qcomp=0.6\n"
                                   "qmin=10\n"
                                   "qmax=51\n"
                                   "qdiff=4\n"
                                   "bf=3\n"
                                   "refs=1\n"
                                   "directpred=1\n"
                                   "trellis=0\n"
                                   "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
                                   "wpredp=0"},
    {"libx264-veryslow", "coder=1\n"
                         "flags=+loop\n"
                         "cmp=+chroma\n"
                         "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
                         "me_method=umh\n"
                         "subq=10\n"
                         "me_range=24\n"
                         "g=250\n"
                         "keyint_min=25\n"
                         "sc_threshold=40\n"
                         "i_qfactor=0.71\n"
                         "b_strategy=2\n"
                         "qcomp=0.6\n"
                         "qmin=10\n"
                         "qmax=51\n"
                         "qdiff=4\n"
                         "bf=8\n"
                         "refs=16\n"
                         "directpred=3\n"
                         "trellis=2\n"
                         "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
                         "wpredp=2"},
    {"libx264-veryslow_firstpass", "coder=1\n"
                                   "flags=+loop\n"
                                   "cmp=+chroma\n"
                                   "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
                                   "me_method=dia\n"
                                   "subq=2\n"
                                   "me_range=24\n"
                                   "g=250\n"
                                   "keyint_min=25\n"
                                   "sc_threshold=40\n"
                                   "i_qfactor=0.71\n"
                                   "b_strategy=2\n"
                                   "qcomp=0.6\n"
                                   "qmin=10\n"
                                   "qmax=51\n"
                                   "qdiff=4\n"
                                   "bf=8\n"
                                   "refs=1\n"
                                   "directpred=3\n"
                                   "trellis=0\n"
                                   "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
                                   "wpredp=2"},
};

const char *FindBuiltinPreset(const std::string &AName) {
  for (const TOptionsPreset &p : GOptionsPresets)
    if (SameText(AName, p.Name))
      return p.Value;
  return nullptr;
}

// Preset files are a few lines; anything larger is not one.
constexpr off_t MaxPresetFileSize = 1 << 20;

// Reads a regular file whole. False when there is no such file.
bool ReadPresetFile(const std::string &AFileName, std::string &AText) {
  struct stat st {};
  if (AFileName.find('\0') != std::string::npos || stat(AFileName.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode))
    return false;
  if (st.st_size > MaxPresetFileSize)
    Raise(Format("Preset \"%s\" is too large", AFileName.c_str()));
  FILE *f = std::fopen(AFileName.c_str(), "rb");
  if (f == nullptr)
    return false;
  AText.clear();
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0 &&
         AText.size() <= static_cast<size_t>(MaxPresetFileSize))
    AText.append(buf, n);
  std::fclose(f);
  return true;
}

enum TNorm { nPAL, nNTSC, nFILM };

// A frame rate times 1000, rounded: 25000, 29970 and 23976 name the norms.
bool NormOfRate(AVRational ARate, TNorm &ANorm) {
  if (ARate.den == 0 || ARate.num == 0)
    return false;
  const double key = std::nearbyint(1000.0 * ARate.num / ARate.den);
  if (key == 25000)
    ANorm = nPAL;
  else if (key == 29970 || key == 23976)
    ANorm = nNTSC;
  else
    return false;
  return true;
}

} // namespace

void TCustomFFmpeg::ApplyPreset(const std::string &AOption, const std::string &AName) {
  if (AOption.empty() || AName.empty())
    return;
  std::string presetName = AName;
  const char *builtin = nullptr;
  if (AOption[0] != 'f') {
    builtin = FindBuiltinPreset(AName);
    if (builtin == nullptr) {
      const std::string *codec = nullptr;
      if (AOption == "vpre" && !Fvideo_codec_name.empty())
        codec = &Fvideo_codec_name;
      else if (AOption == "apre" && !Faudio_codec_name.empty())
        codec = &Faudio_codec_name;
      else if (!Fsubtitle_codec_name.empty())
        codec = &Fsubtitle_codec_name;
      if (codec != nullptr) {
        presetName = *codec + "-" + AName;
        builtin = FindBuiltinPreset(presetName);
      }
    }
  }
  std::string text;
  if (builtin != nullptr)
    text = builtin;
  else if (!ReadPresetFile(AName, text))
    Raise(Format("Preset \"%s\" not found", AName.c_str()));
  ApplyPresetText(presetName, text);
}

void TCustomFFmpeg::ApplyPresetText(const std::string &APresetName, const std::string &AText) {
  const std::string text = NormalizeOptionText(AText, false);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = TrimText(text.substr(start, end - start));
    start = end + 1;
    if (line.empty())
      continue;
    const size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key.empty() || value.empty())
      Raise(Format("%s: Invalid syntax: \"%s\"", APresetName.c_str(), line.c_str()));
    if (SameText(key, "acodec"))
      SetAudioCodec(value);
    else if (SameText(key, "vcodec"))
      SetVideoCodec(value);
    else if (SameText(key, "scodec"))
      SetSubtitleCodec(value);
    else if (!SetCodecOption(key, value))
      Raise(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                   APresetName.c_str(), line.c_str(), key.c_str(), value.c_str()));
  }
}

void TCustomFFmpeg::SplitTarget(const std::string &AValue) {
  const std::string value = TrimText(AValue);
  static const char *const norms[] = {"pal", "ntsc", "film"};
  for (const char *n : norms) {
    const std::string prefix = std::string(n) + "-";
    if (value.compare(0, prefix.size(), prefix) == 0) {
      SetTarget(value.substr(prefix.size()), n, "ntsc");
      return;
    }
  }
  SetTarget(value, "auto", "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string &ATarget, const std::string &ANorm,
                              const std::string &ANormDefault) {
  TNorm norm = nPAL;
  if (ANorm == "pal") {
    norm = nPAL;
  } else if (ANorm == "ntsc") {
    norm = nNTSC;
  } else if (ANorm == "film") {
    norm = nFILM;
  } else {
    if (Fframe_rate.den == 0)
      Raise("frame_rate is invalid.");
    bool found = NormOfRate(Fframe_rate, norm);
    for (int i = 0; !found && i < Fnb_input_files; ++i) {
      const AVFormatContext *input = Finput_files[i].get();
      for (unsigned s = 0; !found && s < input->nb_streams; ++s) {
        const AVStream *st = input->streams[s];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
          found = NormOfRate(st->r_frame_rate.num ? st->r_frame_rate : st->avg_frame_rate, norm);
      }
    }
    if (!found)
      norm = ANormDefault == "film" ? nFILM : ANormDefault == "ntsc" ? nNTSC : nPAL;
    if (Fverbose > 0)
      GetLogger()->LogFmt(this, llVerbose, "Assuming %s for target.",
                          norm == nPAL ? "PAL" : "NTSC");
  }

  const bool pal = norm == nPAL;
  Ftarget_rate_range.clear();
  static const char *const rates[] = {"25", "30000/1001", "24000/1001"};
  const auto assumeAspect = [this](const char *AAspect) {
    if (Fframe_aspect_ratio == 0) {
      Log(llInfo, std::string("Assuming ") + AAspect + " for aspect ratio");
      SetFrameAspectRatio(AAspect);
    }
  };

  if (ATarget == "vcd") {
    SetVideoCodec("mpeg1video");
    SetAudioCodec("mp2");
    SetFileFormat("vcd");
    SetFrameSize(pal ? "352x288" : "352x240");
    SetFrameRate(rates[norm]);
    SetCodecOption("g", pal ? "15" : "18");
    SetCodecOption("b", "1150000");
    SetCodecOption("maxrate", "1150000");
    SetCodecOption("minrate", "1150000");
    Ftarget_rate_range = ATarget;
    SetCodecOption("bufsize", "327680");
    SetCodecOption("ab", "224000");
    SetAudioSampleRate(44100);
    SetAudioChannels(2);
    SetCodecOption("packetsize", "2324");
    SetCodecOption("muxrate", "1411200");
    // One sector's worth of SCR ahead of the first three audio packets.
    Fmux_preload = (36000 + 3 * 1200) / 90000.0f;
    assumeAspect("4:3");
  } else if (ATarget == "svcd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("mp2");
    SetFileFormat("svcd");
    SetFrameSize(pal ? "480x576" : "480x480");
    SetFrameRate(rates[norm]);
    SetCodecOption("g", pal ? "15" : "18");
    SetCodecOption("b", "2040000");
    SetCodecOption("maxrate", "2516000");
    SetCodecOption("minrate", "0");
    SetCodecOption("bufsize", "1835008");
    SetCodecOption("flags", "+scan_offset");
    SetCodecOption("ab", "224000");
    SetAudioSampleRate(44100);
    SetCodecOption("packetsize", "2324");
    if (Faudio_channels == 1)
      Faudio_channels = 2;
    assumeAspect("4:3");
  } else if (ATarget == "dvd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("ac3");
    SetFileFormat("dvd");
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(rates[norm]);
    SetCodecOption("g", pal ? "15" : "18");
    SetCodecOption("b", "6000000");
    SetCodecOption("maxrate", "9000000");
    SetCodecOption("minrate", "0");
    SetCodecOption("bufsize", "1835008");
    SetCodecOption("packetsize", "2048");
    SetCodecOption("muxrate", "10080000");
    SetCodecOption("ab", "448000");
    SetAudioSampleRate(48000);
    if (Faudio_channels == 1)
      Faudio_channels = 2;
    assumeAspect("16:9");
  } else if (ATarget == "dv" || ATarget == "dv50") {
    SetFileFormat("dv");
    SetFrameSize(pal ? "720x576" : "720x480");
    Fframe_pix_fmt = av_get_pix_fmt(ATarget == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    SetFrameRate(rates[norm]);
    SetAudioSampleRate(48000);
    SetAudioChannels(2);
  } else {
    Raise("Unknown target type");
  }
}
