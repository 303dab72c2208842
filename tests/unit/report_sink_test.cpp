// The report sink on real files: names, line ends, buffering and the null device.
#include "report/report_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_files.h"

namespace tessarwick {
namespace {

using testing::fileExists;
using testing::readFile;
using testing::TempDir;

std::string fileText(const std::string& path) {
    testing::Bytes bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

TEST(ReportFileName, IsTheVideoFileNameWithTheSuffixCutTo255) {
    struct Case {
        const char* name;
        std::string fileName;
        std::string expected;
    } const cases[] = {
        {"beside the video file", "D:\\clips\\a.mpg", "D:\\clips\\a.mpg-Tessarwick.log"},
        {"no file name", "", "-Tessarwick.log"},
        {"240 characters keep the whole suffix", std::string(240, 'a'),
         std::string(240, 'a') + "-Tessarwick.log"},
        {"241 characters lose the last one", std::string(241, 'a'), std::string(241, 'a') + "-Tessarwick.lo"},
        {"245 characters keep 10 of the suffix", std::string(245, 'a'), std::string(245, 'a') + "-Tessarwic"},
    };
    for (const Case& c : cases) {
        NumberText storage;
        std::string name{reportFileName(c.fileName, storage)};
        EXPECT_EQ(name, c.expected) << c.name << " (" << c.fileName.size() << " characters)";
        EXPECT_LE(name.size(), 255u) << c.name;
    }
}

TEST(ReportSink, TwoOneLetterLinesAreSixBytes) {
    TempDir dir;
    ReportSink sink;
    ASSERT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
    writeText(sink, "a");
    endLine(sink);
    writeText(sink, "b");
    endLine(sink);
    closeReportSink(sink);
    EXPECT_EQ(fileText(dir.file("v.mpg-Tessarwick.log")), std::string("a\r\nb\r\n"));
}

TEST(ReportSink, NumbersAreAppendedToTheLine) {
    TempDir dir;
    ReportSink sink;
    ASSERT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
    writeUnsigned(sink, 4294967295u);
    writeText(sink, " ");
    writeSigned(sink, -2147483647 - 1);
    writeText(sink, " ");
    writeUnsigned64(sink, UINT64_MAX);
    writeText(sink, " ");
    writeFixed(sink, 0.125L, 2);
    writeText(sink, " (");
    writeText(sink, hexText(4096).view());
    writeText(sink, "h)");
    endLine(sink);
    closeReportSink(sink);
    EXPECT_EQ(fileText(dir.file("v.mpg-Tessarwick.log")),
              "4294967295 -2147483648 18446744073709551615 0.13 (1000h)\r\n");
}

// The buffer goes out in whole 256-byte writes and ending a line never writes it out, so
// before closing the file holds only the full buffers; closing adds the rest.
TEST(ReportSink, WritesWholeBuffersAndTheRestAtClosing) {
    for (std::size_t size : {1u, 255u, 256u, 257u, 1000u}) {
        TempDir dir;
        ReportSink sink;
        ASSERT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
        std::string expected;
        while (expected.size() + 2 <= size) {
            std::string line(std::min<std::size_t>(size - expected.size() - 2, 40), 'x');
            line[0] = static_cast<char>('A' + expected.size() % 26);  // every line different
            writeText(sink, line);
            endLine(sink);
            expected += line + "\r\n";
        }
        if (expected.size() < size) {
            writeText(sink, "z");
            expected += "z";
        }
        ASSERT_EQ(expected.size(), size);
        const std::string path = dir.file("v.mpg-Tessarwick.log");
        EXPECT_EQ(readFile(path).size(), size / 256 * 256) << size << " bytes before closing";
        closeReportSink(sink);
        EXPECT_EQ(fileText(path), expected) << size << " bytes after closing";
    }
}

TEST(ReportSink, TextsAreCutTo255Characters) {
    TempDir dir;
    ReportSink sink;
    ASSERT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
    writeText(sink, std::string(300, 'q'));
    endLine(sink);
    closeReportSink(sink);
    EXPECT_EQ(fileText(dir.file("v.mpg-Tessarwick.log")), std::string(255, 'q') + "\r\n");
}

TEST(ReportSink, ReplacesAnEarlierReportWhenOpened) {
    TempDir dir;
    const std::string path = dir.file("v.mpg-Tessarwick.log");
    testing::writeText(path, "an older, longer report\r\n");
    ReportSink sink;
    ASSERT_TRUE(openReportSink(sink, true, dir.file("v.mpg")));
    EXPECT_EQ(readFile(path).size(), 0u) << "truncated as soon as the sink is open";
    writeText(sink, "new");
    endLine(sink);
    closeReportSink(sink);
    EXPECT_EQ(fileText(path), "new\r\n");
}

TEST(ReportSink, FailsWhenTheDirectoryDoesNotExist) {
    TempDir dir;
    ReportSink sink;
    EXPECT_FALSE(openReportSink(sink, true, dir.file("missing/v.mpg")));
    EXPECT_FALSE(fileExists(dir.file("missing")));
}

TEST(ReportSink, NullDeviceTakesEverythingAndStoresNothing) {
    TempDir dir;
    ReportSink sink;
    ASSERT_TRUE(openReportSink(sink, false, dir.file("v.mpg")));
    for (int line = 0; line < 1000; ++line) {
        writeText(sink, "* Parameter given: ");
        writeUnsigned(sink, static_cast<uint32_t>(line));
        endLine(sink);
    }
    closeReportSink(sink);
    EXPECT_FALSE(fileExists(dir.file("v.mpg-Tessarwick.log")));
}

// Against a report that refuses every write (a link to /dev/full) the run ends with 101 as
// soon as the buffer is full, and at closing for the rest; a buffer that is not full is not
// written out yet.
TEST(ReportSinkDeathTest, AWriteOutThatFailsEndsTheRunWith101) {
    TempDir dir;
    std::filesystem::create_symlink("/dev/full", dir.file("v.mpg-Tessarwick.log"));
    const std::string videoFile = dir.file("v.mpg");
    auto appendBytes = [](ReportSink& sink, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) writeText(sink, "x");
    };
    EXPECT_EXIT(
        {
            ReportSink sink;
            if (!openReportSink(sink, true, videoFile)) std::_Exit(2);
            appendBytes(sink, 256);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(101), "Runtime error 101")
        << "the 256th byte fills the buffer";
    EXPECT_EXIT(
        {
            ReportSink sink;
            if (!openReportSink(sink, true, videoFile)) std::_Exit(2);
            appendBytes(sink, 255);
            closeReportSink(sink);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(101), "Runtime error 101")
        << "closing writes out the rest";
    EXPECT_EXIT(
        {
            ReportSink sink;
            if (!openReportSink(sink, true, videoFile)) std::_Exit(2);
            appendBytes(sink, 255);
            endLine(sink);  // 257 bytes: the first 256 go out
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(101), "Runtime error 101")
        << "a line end may fill the buffer too";
    EXPECT_EXIT(
        {
            ReportSink sink;
            if (!openReportSink(sink, true, videoFile)) std::_Exit(2);
            appendBytes(sink, 253);
            endLine(sink);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << "255 bytes and a line end stay in the buffer";
}

}  // namespace
}  // namespace tessarwick
