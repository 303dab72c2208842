// The command line's number texts and options, each read into the PatchRequest.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "run/patch_request.h"

namespace tessarwick {
namespace {

struct NumberCase {
    const char* name;
    std::string text;
    uint32_t expected;
};

TEST(ParseUnsigned, ReadsEveryFormAndRefusesEveryMalformedText) {
    const NumberCase cases[] = {
        {"empty", "", 0},
        {"zero", "0", 0},
        {"decimal", "720", 720},
        {"plus sign", "+720", 720},
        {"leading zero is not octal", "0720", 720},
        {"many leading zeros", "0000000000000000000000720", 720},
        {"only zeros", "000", 0},
        {"dollar hex", "$2D0", 720},
        {"lower x hex", "x2d0", 720},
        {"upper X hex", "X2D0", 720},
        {"0x hex", "0x2D0", 720},
        {"0X hex, mixed digits", "0X2d0", 720},
        {"hex with zeros after prefix", "$002D0", 720},
        {"octal", "&1320", 720},
        {"binary", "%1011010000", 720},
        {"leading blank", " 720", 720},
        {"leading tab", "\t720", 720},
        {"blanks and tabs then sign", " \t +720", 720},
        {"plus then hex", "+$2D0", 720},
        {"unit after number", "720px", 0},
        {"negative", "-720", 0},
        {"negative zero", "-0", 0},
        {"hex digit without prefix", "7A0", 0},
        {"trailing blank", "720 ", 0},
        {"blank after sign", "+ 720", 0},
        {"two signs", "+-720", 0},
        {"two plus signs", "++720", 0},
        {"sign after prefix", "$+2D0", 0},
        {"only blanks", "  \t", 0},
        {"only sign", "+", 0},
        {"only dollar", "$", 0},
        {"only 0x", "0x", 0},
        {"only percent", "%", 0},
        {"only ampersand", "&", 0},
        {"two prefixes", "$$2D0", 0},
        {"0x after zeros is no prefix", "00x2D0", 0},
        {"hex digit past f", "$2G0", 0},
        {"octal digit 8", "&8", 0},
        {"binary digit 2", "%102", 0},
        {"exponent", "7e2", 0},
        {"decimal point", "720.0", 0},
        {"largest decimal", "4294967295", 4294967295u},
        {"one above largest decimal", "4294967296", 0},
        {"largest hex", "$FFFFFFFF", 4294967295u},
        {"one above largest hex", "$100000000", 0},
        {"largest binary", "%11111111111111111111111111111111", 4294967295u},
        {"33 binary ones", "%111111111111111111111111111111111", 0},
        {"largest after leading zeros", "000004294967295", 4294967295u},
        {"2^64 + 1 must not wrap to 1", "18446744073709551617", 0},
        {"hex 2^64 + 1 must not wrap to 1", "$10000000000000001", 0},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(parseUnsigned(c.text), c.expected) << c.name << ": text \"" << c.text << "\"";
    }
}

// The fields of a request that differ from their start values, in declaration order, as
// one line: "fileName=b.mpg hs=720 cp=1 all". Empty when nothing was stored.
std::string describe(const PatchRequest& r) {
    std::ostringstream out;
    if (!r.fileName.empty()) out << " fileName=" << r.fileName;
    if (r.horizontalSize != 0) out << " hs=" << r.horizontalSize;
    if (r.verticalSize != 0) out << " vs=" << r.verticalSize;
    if (r.aspectRatio != 0) out << " ar=" << unsigned{r.aspectRatio};
    if (r.frameRate != 0) out << " fr=" << unsigned{r.frameRate};
    if (r.bitRate != 0) out << " br=" << r.bitRate;
    if (r.vbvBufferSize != 0) out << " vbv=" << r.vbvBufferSize;
    if (r.constrainedParameters != 0) out << " cp=" << unsigned{r.constrainedParameters};
    if (r.profile != 0) out << " pr=" << unsigned{r.profile};
    if (r.level != 0) out << " lv=" << unsigned{r.level};
    if (r.progressiveSequence != 0) out << " ps=" << unsigned{r.progressiveSequence};
    if (r.chromaFormat != 0) out << " cs=" << unsigned{r.chromaFormat};
    if (r.patchAll) out << " all";
    if (r.writeLog) out << " log";
    const std::string text = out.str();
    return text.empty() ? text : text.substr(1);
}

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += "[" + argument + "] ";
    return text;
}

// `expected` lists the stored values as describe() writes them; the flags cp and ps are
// the stored flag plus 1, bit rates are in units of 100 bit/s.
struct OptionsCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string expected;
};

TEST(ParseOptions, FillsTheRequestFromTheArguments) {
    const OptionsCase cases[] = {
        {"no argument", {}, ""},
        {"bare file name matches nothing", {"clip.mpg"}, ""},
        {"near misses match nothing",
         {"-f=x", "/x=1", "/h=720", "hs=720", " /hs=720", "/hs 720", "/al", "/lo", "/vb=1", "\\hs=720"},
         ""},

        // File name: as typed, the last one wins, also when it is empty.
        {"file name keeps its case", {"/F=Clip.MPG"}, "fileName=Clip.MPG"},
        {"file name with a blank", {"/f=my clip.mpg"}, "fileName=my clip.mpg"},
        {"last file name wins", {"/f=a.mpg", "/f=b.mpg"}, "fileName=b.mpg"},
        {"empty file name overwrites", {"/f=a.mpg", "/f="}, ""},
        {"file name that looks like a switch", {"/f=/all"}, "fileName=/all"},

        // Every option in any letter case.
        {"hs upper case", {"/HS=720"}, "hs=720"},
        {"vs mixed case", {"/Vs=576"}, "vs=576"},
        {"ar", {"/AR=3"}, "ar=3"},
        {"fr", {"/fR=5"}, "fr=5"},
        {"vbv", {"/VBV=112"}, "vbv=112"},
        {"pr", {"/Pr=4"}, "pr=4"},
        {"lv", {"/LV=8"}, "lv=8"},
        {"cs", {"/CS=2"}, "cs=2"},
        {"all options at once",
         {"/f=x.mpg", "/hs=720", "/vs=576", "/ar=2", "/fr=3", "/br=9800000", "/vbv=112", "/cp=0", "/pr=4",
          "/lv=8", "/ps=1", "/cs=1", "/all", "/log"},
         "fileName=x.mpg hs=720 vs=576 ar=2 fr=3 br=98000 vbv=112 cp=1 pr=4 lv=8 ps=2 cs=1 all log"},

        // Number forms reach the fields.
        {"hs dollar hex", {"/hs=$2D0"}, "hs=720"},
        {"hs x hex", {"/hs=x2d0"}, "hs=720"},
        {"hs 0x hex", {"/hs=0x2D0"}, "hs=720"},
        {"hs value keeps its own case", {"/HS=X2D0"}, "hs=720"},
        {"hs unit is malformed", {"/hs=720px"}, ""},
        {"hs negative", {"/hs=-720"}, ""},
        {"hs empty", {"/hs="}, ""},

        // Width reduction without a message.
        {"hs 65536 keeps low 16 bits: 0", {"/hs=65536"}, ""},
        {"hs 66256 keeps low 16 bits: 720", {"/hs=66256"}, "hs=720"},
        {"hs 70000 keeps low 16 bits: 4464", {"/hs=70000"}, "hs=4464"},
        {"vbv 65537 keeps low 16 bits: 1", {"/vbv=65537"}, "vbv=1"},
        {"ar 259 keeps low 8 bits: 3", {"/ar=259"}, "ar=3"},
        {"lv 256 keeps low 8 bits: 0", {"/lv=256"}, ""},
        {"br keeps all 32 bits", {"/br=429496729500"}, "br=4294967295"},

        // Bit rate: the argument's last two characters are dropped before parsing.
        {"br 9000000", {"/br=9000000"}, "br=90000"},
        {"br 9000099", {"/br=9000099"}, "br=90000"},
        {"br drops any two characters", {"/br=90000xy"}, "br=90000"},
        {"br drops a trailing blank and digit", {"/br=90000 0"}, "br=90000"},
        {"br 100", {"/br=100"}, "br=1"},
        {"br 99", {"/br=99"}, ""},
        {"br 9", {"/br=9"}, ""},
        {"br empty", {"/br="}, ""},
        {"br hex loses its last two digits", {"/BR=$FFFF"}, "br=255"},

        // Flags: the 8-bit number plus 1, wrapping in 8 bits.
        {"cp 0 is false", {"/cp=0"}, "cp=1"},
        {"cp 1 is true", {"/cp=1"}, "cp=2"},
        {"cp malformed is false", {"/cp=abc"}, "cp=1"},
        {"cp empty is false", {"/cp="}, "cp=1"},
        {"cp 2 is kept for the validation", {"/cp=2"}, "cp=3"},
        {"cp 255 wraps to not given", {"/cp=255"}, ""},
        {"cp 256 is false", {"/cp=256"}, "cp=1"},
        {"ps 1 is true", {"/PS=1"}, "ps=2"},
        {"ps true is not a number", {"/ps=true"}, "ps=1"},
        {"ps 255 wraps to not given", {"/ps=255"}, ""},

        // Switches are prefixes and stay set.
        {"all and log", {"/all", "/log"}, "all log"},
        {"switches as prefixes", {"/logfile", "/ALL=1"}, "all log"},
        {"switch with any tail", {"/ALL=no"}, "all"},
        {"log in mixed case", {"/LoG"}, "log"},

        // The last argument wins, also with 0.
        {"later 0 clears", {"/hs=720", "/hs=0"}, ""},
        {"later malformed clears", {"/ar=3", "/ar=three"}, ""},
        {"later value replaces", {"/vs=480", "/VS=576"}, "vs=576"},
        {"later flag replaces", {"/cp=1", "/cp=0"}, "cp=1"},
    };
    for (const OptionsCase& c : cases) {
        PatchRequest request;
        parseOptions(request, c.arguments);
        EXPECT_EQ(describe(request), c.expected) << c.name << ": arguments " << joined(c.arguments);
    }
}

TEST(ParseOptions, CutsAnArgumentToItsFirst255Characters) {
    struct LengthCase {
        const char* name;
        std::size_t nameLength;
        std::size_t expectedLength;
    };
    const LengthCase cases[] = {
        {"252 characters fit", 252, 252},
        {"253 characters lose one", 253, 252},
        {"300 characters lose 48", 300, 252},
    };
    for (const LengthCase& c : cases) {
        std::string name(c.nameLength - 4, 'a');
        name += ".mpg";
        PatchRequest request;
        parseOption(request, "/f=" + name);
        EXPECT_EQ(request.fileName, name.substr(0, c.expectedLength)) << c.name;
    }

    // A number past the cut is read only up to the cut.
    PatchRequest request;
    parseOption(request, "/hs=" + std::string(248, '0') + "720" + "1");
    EXPECT_EQ(request.horizontalSize, 720) << "digits past character 255 must be cut off";
}

}  // namespace
}  // namespace tessarwick
