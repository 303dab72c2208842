// The "* Parameter given: " lines, the limits of every field, and the lowering of sizes
// and bit rate, read back from a real report file.
#include "run/parameter_echo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/report_sink.h"
#include "run/patch_request.h"
#include "support/report_capture.h"
#include "support/run_tool.h"

namespace tessarwick {
namespace {

using testing::ReportCapture;
using testing::reportText;

struct EchoResult {
    std::string report;
    bool illegal = false;
};

// Parses the arguments as the command line would, echoes them into a real report file
// beside clip.mpg in a fresh directory, and reads that report back.
EchoResult echoArguments(const std::vector<std::string>& arguments) {
    PatchRequest request;
    parseOptions(request, arguments);
    ReportCapture capture;
    EchoResult result;
    if (!capture.opened()) {
        ADD_FAILURE() << "cannot open the report file";
        return result;
    }
    result.illegal = echoAndValidate(request, capture.sink);
    result.report = capture.close();
    return result;
}

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += "[" + argument + "] ";
    return text;
}

struct EchoCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> expectedLines;
    bool expectedIllegal;
};

TEST(EchoAndValidate, EchoesEveryGivenValueAndFlagsTheIllegalOnes) {
    const EchoCase cases[] = {
        {"nothing given", {"/f=clip.mpg"}, {}, false},
        {"report switch and file name are not echoed", {"/log", "/f=clip.mpg"}, {}, false},
        {"all alone", {"/all"}, {"* Parameter given: /all"}, false},
        {"switches as prefixes", {"/logfile", "/ALL=1"}, {"* Parameter given: /all"}, false},

        {"hs upper case", {"/HS=720"}, {"* Parameter given: /hs=720"}, false},
        {"hs hex", {"/hs=$2D0"}, {"* Parameter given: /hs=720"}, false},
        {"hs largest legal", {"/hs=4095"}, {"* Parameter given: /hs=4095"}, false},
        {"hs illegal text touches the number",
         {"/hs=4096"},
         {"* Parameter given: /hs=4096(illegal due to > 4095)"},
         true},
        {"hs 66256 reduced to 720", {"/hs=66256"}, {"* Parameter given: /hs=720"}, false},
        {"hs 70000 reduced to 4464",
         {"/hs=70000"},
         {"* Parameter given: /hs=4464(illegal due to > 4095)"},
         true},
        {"hs 65536 reduced to not given", {"/hs=65536"}, {}, false},
        {"hs 7 is echoed", {"/hs=7"}, {"* Parameter given: /hs=7"}, false},

        {"vs largest legal", {"/vs=4095"}, {"* Parameter given: /vs=4095"}, false},
        {"vs illegal", {"/vs=4096"}, {"* Parameter given: /vs=4096 (illegal due to > 4095)"}, true},
        {"vs 577", {"/vs=577"}, {"* Parameter given: /vs=577"}, false},

        {"ar largest legal", {"/ar=15"}, {"* Parameter given: /ar=15"}, false},
        {"ar illegal", {"/ar=16"}, {"* Parameter given: /ar=16 (illegal due to > 15)"}, true},
        {"ar 259 reduced to 3", {"/ar=259"}, {"* Parameter given: /ar=3"}, false},
        {"fr largest legal", {"/fr=15"}, {"* Parameter given: /fr=15"}, false},
        {"fr illegal", {"/fr=16"}, {"* Parameter given: /fr=16 (illegal due to > 15)"}, true},

        {"br in bit/s", {"/br=9000000"}, {"* Parameter given: /br=9000000"}, false},
        {"br last two digits shown as zeros", {"/br=9000099"}, {"* Parameter given: /br=9000000"}, false},
        {"br largest legal", {"/br=104857299"}, {"* Parameter given: /br=104857200"}, false},
        {"br illegal text has no closing parenthesis",
         {"/br=104857300"},
         {"* Parameter given: /br=104857300 (illegal due to > 104857200"},
         true},
        {"br 399 echoed as 300", {"/br=399"}, {"* Parameter given: /br=300"}, false},
        {"br 99 not given", {"/br=99"}, {}, false},
        {"br 9 not given", {"/br=9"}, {}, false},

        {"vbv largest legal", {"/vbv=1023"}, {"* Parameter given: /vbv=1023"}, false},
        {"vbv illegal", {"/vbv=1024"}, {"* Parameter given: /vbv=1024 (illegal due to > 1023)"}, true},

        {"cp 0", {"/cp=0"}, {"* Parameter given: /cp=0"}, false},
        {"cp malformed echoed as 0", {"/cp=abc"}, {"* Parameter given: /cp=0"}, false},
        {"cp 1", {"/cp=1"}, {"* Parameter given: /cp=1"}, false},
        {"cp 2 illegal, echoed as 2", {"/cp=2"}, {"* Parameter given: /cp=2 (illegal due to > 1)"}, true},
        {"cp 254 illegal", {"/cp=254"}, {"* Parameter given: /cp=254 (illegal due to > 1)"}, true},
        {"cp 255 not given", {"/cp=255"}, {}, false},

        {"pr largest legal", {"/pr=8"}, {"* Parameter given: /pr=8"}, false},
        {"pr illegal", {"/pr=9"}, {"* Parameter given: /pr=9 (illegal due to > 8)"}, true},
        {"lv largest legal", {"/lv=15"}, {"* Parameter given: /lv=15"}, false},
        {"lv illegal", {"/lv=16"}, {"* Parameter given: /lv=16 (illegal due to > 15)"}, true},

        {"ps 0", {"/ps=0"}, {"* Parameter given: /ps=0"}, false},
        {"ps 1", {"/ps=1"}, {"* Parameter given: /ps=1"}, false},
        {"ps true echoed as 0", {"/ps=true"}, {"* Parameter given: /ps=0"}, false},
        {"ps 3 illegal", {"/ps=3"}, {"* Parameter given: /ps=3 (illegal due to > 1)"}, true},

        {"cs largest legal", {"/cs=3"}, {"* Parameter given: /cs=3"}, false},
        {"cs illegal", {"/cs=4"}, {"* Parameter given: /cs=4 (illegal due to > 3)"}, true},

        {"fixed order whatever the command line's order",
         {"/all", "/cs=1", "/ps=1", "/lv=8", "/pr=4", "/cp=1", "/vbv=112", "/br=9800000", "/fr=3", "/ar=2",
          "/vs=576", "/hs=720", "/log"},
         {"* Parameter given: /hs=720", "* Parameter given: /vs=576", "* Parameter given: /ar=2",
          "* Parameter given: /fr=3", "* Parameter given: /br=9800000", "* Parameter given: /vbv=112",
          "* Parameter given: /cp=1", "* Parameter given: /pr=4", "* Parameter given: /lv=8",
          "* Parameter given: /ps=1", "* Parameter given: /cs=1", "* Parameter given: /all"},
         false},
        {"every field one above its limit",
         {"/hs=4096", "/vs=4096", "/ar=16", "/fr=16", "/br=104857300", "/vbv=1024", "/cp=2", "/pr=9",
          "/lv=16", "/ps=2", "/cs=4", "/all"},
         {"* Parameter given: /hs=4096(illegal due to > 4095)",
          "* Parameter given: /vs=4096 (illegal due to > 4095)",
          "* Parameter given: /ar=16 (illegal due to > 15)",
          "* Parameter given: /fr=16 (illegal due to > 15)",
          "* Parameter given: /br=104857300 (illegal due to > 104857200",
          "* Parameter given: /vbv=1024 (illegal due to > 1023)",
          "* Parameter given: /cp=2 (illegal due to > 1)", "* Parameter given: /pr=9 (illegal due to > 8)",
          "* Parameter given: /lv=16 (illegal due to > 15)", "* Parameter given: /ps=2 (illegal due to > 1)",
          "* Parameter given: /cs=4 (illegal due to > 3)", "* Parameter given: /all"},
         true},
        {"legal values around illegal ones are all echoed",
         {"/hs=720", "/ar=16", "/fr=3", "/cs=4", "/lv=8"},
         {"* Parameter given: /hs=720", "* Parameter given: /ar=16 (illegal due to > 15)",
          "* Parameter given: /fr=3", "* Parameter given: /lv=8",
          "* Parameter given: /cs=4 (illegal due to > 3)"},
         true},
        {"illegal value overwritten by a legal one",
         {"/hs=4096", "/hs=4095"},
         {"* Parameter given: /hs=4095"},
         false},
    };
    for (const EchoCase& c : cases) {
        const EchoResult result = echoArguments(c.arguments);
        EXPECT_EQ(result.report, reportText(c.expectedLines))
            << c.name << ": arguments " << joined(c.arguments);
        EXPECT_EQ(result.illegal, c.expectedIllegal) << c.name << ": arguments " << joined(c.arguments);
    }
}

struct NormaliseCase {
    const char* name;
    std::vector<std::string> arguments;
    uint16_t horizontalSize;
    uint16_t verticalSize;
    uint32_t bitRate;
};

TEST(NormaliseRequest, LowersSizesToMultiplesOf8AndBitRateToMultiplesOf400) {
    const NormaliseCase cases[] = {
        {"nothing given", {}, 0, 0, 0},
        {"multiples stay", {"/hs=720", "/vs=576", "/br=9000000"}, 720, 576, 90000},
        {"hs 4095 becomes 4088", {"/hs=4095"}, 4088, 0, 0},
        {"hs 721 becomes 720", {"/hs=721"}, 720, 0, 0},
        {"hs 7 becomes not given", {"/hs=7"}, 0, 0, 0},
        {"hs 1 becomes not given", {"/hs=1"}, 0, 0, 0},
        {"vs 577 becomes 576", {"/vs=577"}, 0, 576, 0},
        {"vs 7 becomes not given", {"/vs=7"}, 0, 0, 0},
        {"br 399 becomes not given", {"/br=399"}, 0, 0, 0},
        {"br 100 becomes not given", {"/br=100"}, 0, 0, 0},
        {"br 400 stays", {"/br=400"}, 0, 0, 4},
        {"br 9000500 becomes 9000400", {"/br=9000500"}, 0, 0, 90004},
        {"br largest legal stays", {"/br=104857299"}, 0, 0, 1048572},
    };
    for (const NormaliseCase& c : cases) {
        PatchRequest request;
        parseOptions(request, c.arguments);
        normaliseRequest(request);
        EXPECT_EQ(request.horizontalSize, c.horizontalSize)
            << c.name << ": arguments " << joined(c.arguments);
        EXPECT_EQ(request.verticalSize, c.verticalSize) << c.name << ": arguments " << joined(c.arguments);
        EXPECT_EQ(request.bitRate, c.bitRate) << c.name << ": arguments " << joined(c.arguments);
    }
}

TEST(NormaliseRequest, LeavesEveryOtherFieldAlone) {
    PatchRequest request;
    parseOptions(request, std::vector<std::string>{"/f=clip.mpg", "/ar=15", "/fr=15", "/vbv=1023", "/cp=1",
                                                   "/pr=8", "/lv=15", "/ps=0", "/cs=3", "/all", "/log"});
    const PatchRequest before = request;
    normaliseRequest(request);
    EXPECT_EQ(request.fileName, before.fileName);
    EXPECT_EQ(request.aspectRatio, before.aspectRatio);
    EXPECT_EQ(request.frameRate, before.frameRate);
    EXPECT_EQ(request.vbvBufferSize, before.vbvBufferSize);
    EXPECT_EQ(request.constrainedParameters, before.constrainedParameters);
    EXPECT_EQ(request.profile, before.profile);
    EXPECT_EQ(request.level, before.level);
    EXPECT_EQ(request.progressiveSequence, before.progressiveSequence);
    EXPECT_EQ(request.chromaFormat, before.chromaFormat);
    EXPECT_EQ(request.patchAll, before.patchAll);
    EXPECT_EQ(request.writeLog, before.writeLog);
}

}  // namespace
}  // namespace tessarwick
