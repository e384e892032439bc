// SPDX-License-Identifier: GPL-3.0-or-later
// Telling a station list that reads back whole from one that does not, and
// keeping the latter beside itself byte for byte; a volume out of range read
// as the nearest bound.
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

namespace fs = std::filesystem;
using station_test::names_in;

std::unique_ptr<DAB_ScanResults> two_ensembles() {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        7, 3,
        {{0xD001, 0, 4, 1, 2, 1, 15, "Lark One", {{1, 1, 1, 63, 1}, {0xC003, 0, 0, 60, 0}}},
         {0xE1C2D621, 1, 31, 0, 7, 0, 0, std::string("\xC4\xD6 \x80 odd\tbytes\n", 16), {}}});
    results->ensembles[1] = station_test::make_ensemble(
        65535, 255, {{4294967295u, 0, 0, 0, 0, 0, 0, "                ", {{65535}}}});
    results->num_ensembles = 2;
    results->scan_date = {2019, 3, 7, 9, 5, 0};
    return results;
}

class StationListCheck : public testing::Test {
protected:
    DAB_ListCheck check_text(const std::string &text) {
        station_test::write_file(path_, text);
        DAB_ListCheck check{};
        EXPECT_EQ(DAB_check_station_list(path_.c_str(), &check), 0);
        return check;
    }
    std::string saved(const DAB_ScanResults &results, uint8_t volume) {
        EXPECT_EQ(DAB_save_scan_results(&results, path_.c_str(), volume), 0);
        return station_test::read_file(path_);
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
};

TEST_F(StationListCheck, WhatTheWriterWritesIsWhole) {
    auto many = station_test::make_results();
    for (unsigned e = 0; e < DAB_MAX_ENSEMBLES; ++e) {
        std::vector<station_test::RawService> services;
        for (unsigned s = 0; s < 5; ++s) {
            station_test::RawService service{0xD000u + e * 16 + s, 0, 1, 0, 0, 0, 0, "Many", {}};
            service.components.assign(15, station_test::RawComponent{7, 1, 1, 2, 1});
            services.push_back(service);
        }
        many->ensembles[e] = station_test::make_ensemble(static_cast<uint16_t>(e), 0, services);
    }
    many->num_ensembles = DAB_MAX_ENSEMBLES;
    std::vector<std::unique_ptr<DAB_ScanResults>> databases;
    databases.push_back(station_test::make_results());
    databases.push_back(two_ensembles());
    databases.push_back(std::move(many));
    for (const auto &results : databases) {
        for (uint8_t volume : {0, 40, 63}) {
            const std::string text = saved(*results, volume);
            const DAB_ListCheck check = check_text(text);
            EXPECT_EQ(check.whole, 1) << "line " << check.line << "\n" << text;
            EXPECT_EQ(check.fault, DAB_LIST_WHOLE);
        }
    }
}

TEST_F(StationListCheck, EachKindOfDamageIsFoundAtItsLine) {
    const std::string text = saved(*two_ensembles(), 40);
    const std::vector<std::string> lines = station_test::split_lines(text);
    auto with_line = [&](std::size_t number, const std::string &line) {
        std::string changed;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            changed += (k + 1 == number ? line : lines[k]) + "\n";
        }
        return changed;
    };
    auto line_of = [&](const std::string &start) {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (lines[k].rfind(start, 0) == 0) {
                return k + 1;
            }
        }
        ADD_FAILURE() << "no line " << start;
        return std::size_t{0};
    };
    struct Case {
        std::string name;
        std::string text;
        DAB_ListFault fault;
        std::size_t line;
    };
    const std::size_t pty = line_of("PTY ");
    const std::size_t components = line_of("number components ");
    const std::size_t label = line_of("Label ");
    const std::size_t comp_id = line_of("Comp ID ");
    const Case cases[] = {
        {"header", with_line(1, "Automatically generated file"), DAB_LIST_BAD_LINE, 1},
        {"volume above 63", with_line(2, "Volume: 64"), DAB_LIST_OUT_OF_RANGE, 2},
        {"negative volume", with_line(2, "Volume: -1"), DAB_LIST_BAD_LINE, 2},
        {"leading zero", with_line(2, "Volume: 040"), DAB_LIST_BAD_LINE, 2},
        {"blank at the end", with_line(2, "Volume: 40 "), DAB_LIST_BAD_LINE, 2},
        {"word for a number", with_line(2, "Volume: loud"), DAB_LIST_BAD_LINE, 2},
        {"date", with_line(3, "Date of scan (YYYY-MM-DD, HH:MM:SS): 2019-3-7 9:5:0"),
         DAB_LIST_BAD_LINE, 3},
        {"too many ensembles", with_line(4, "Num. Ensembles: 13"), DAB_LIST_OUT_OF_RANGE, 4},
        {"count that disagrees", with_line(4, "Num. Ensembles: 3"), DAB_LIST_EARLY_END,
         lines.size() + 1},
        {"count too small", with_line(4, "Num. Ensembles: 1"), DAB_LIST_EXTRA_LINES,
         line_of("Ensemble No. 1")},
        {"position out of step", with_line(5, "Ensemble No. 1"), DAB_LIST_BAD_LINE, 5},
        {"PTY", with_line(pty, "PTY 32"), DAB_LIST_OUT_OF_RANGE, pty},
        {"components", with_line(components, "number components 16"), DAB_LIST_OUT_OF_RANGE,
         components},
        {"long label", with_line(label, "Label 12345678901234567"), DAB_LIST_BAD_LINE, label},
        {"carriage return in a label", with_line(label, "Label Lark\rOne"), DAB_LIST_BAD_LINE,
         label},
        {"component id", with_line(comp_id, "Comp ID 65536"), DAB_LIST_OUT_OF_RANGE, comp_id},
        {"number beyond 32 bits", with_line(line_of("Service ID. "), "Service ID. 4294967296"),
         DAB_LIST_OUT_OF_RANGE, line_of("Service ID. ")},
        // A service id edited by hand under the lines derived from the old one
        // (0xD001: reference 1, country 13).
        {"widest id, old derived lines",
         with_line(line_of("Service ID. "), "Service ID. 4294967295"), DAB_LIST_DISAGREES,
         line_of("Srv ref. ")},
        {"id 65536, old derived lines", with_line(line_of("Service ID. "), "Service ID. 65536"),
         DAB_LIST_DISAGREES, line_of("Srv ref. ")},
        {"country that disagrees", with_line(line_of("Service ID. "), "Service ID. 49153"),
         DAB_LIST_DISAGREES, line_of("Country ID ")},
        {"ECC of an audio service", with_line(line_of("ECC. "), "ECC. 1"), DAB_LIST_DISAGREES,
         line_of("ECC. ")},
        {"sub-channel that disagrees", with_line(line_of("SubChId "), "SubChId 2"),
         DAB_LIST_DISAGREES, line_of("SubChId ")},
        {"month beyond 8 bits",
         with_line(3, "Date of scan (YYYY-MM-DD, HH:MM:SS): 2019-256-7, 9:5:0"),
         DAB_LIST_OUT_OF_RANGE, 3},
        {"year beyond 16 bits",
         with_line(3, "Date of scan (YYYY-MM-DD, HH:MM:SS): 65536-3-7, 9:5:0"),
         DAB_LIST_OUT_OF_RANGE, 3},
        {"empty line", with_line(6, ""), DAB_LIST_BAD_LINE, 6},
        {"cut after a line", text.substr(0, text.find("\n", text.find("Label ")) + 1),
         DAB_LIST_EARLY_END, label + 1},
        {"cut within a line", text.substr(0, text.size() - 3), DAB_LIST_BAD_LINE, lines.size()},
        {"line end missing", text.substr(0, text.size() - 1), DAB_LIST_BAD_LINE, lines.size()},
        {"line after the end", text + "Ensemble No. 2\n", DAB_LIST_EXTRA_LINES, lines.size() + 1},
        {"empty file", "", DAB_LIST_EARLY_END, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const DAB_ListCheck check = check_text(c.text);
        EXPECT_EQ(check.whole, 0);
        EXPECT_EQ(check.fault, c.fault);
        EXPECT_EQ(check.line, c.line);
    }
}

TEST_F(StationListCheck, ServicesBeyondTheEnsemblesRoomAreOutOfRange) {
    // 15 components make a service of 84 bytes: the 25th ends beyond 2048.
    std::string text = "Automatically generated and machine read file, do not change!\n"
                       "Volume: 1\nDate of scan (YYYY-MM-DD, HH:MM:SS): 0-0-0, 0:0:0\n"
                       "Num. Ensembles: 1\nEnsemble No. 0\nList version: 1\nFreq. Index: 0\n"
                       "Num services: 25\n";
    std::size_t line = 8;
    std::size_t overflowing = 0;
    for (unsigned s = 0; s < 25; ++s) {
        text += "Service No. " + std::to_string(s) +
                "\nService ID. 1\nSrv ref. 1\nCountry ID 0\nECC. 0\nPD Flag 0\nPTY 0\n"
                "SRV linking info flag 0\nnumber components 15\nCA ID 0\nlocal 0\n"
                "SI charset 0\nLabel x\n";
        line += 13;
        if (s == 24) {
            overflowing = line - 4;
        }
        for (unsigned c = 0; c < 15; ++c) {
            text += "Comp No. " + std::to_string(c) +
                    "\nComp ID 1\nSubChId 1\ntmid 0\nFIDCId 0\nSCId 0\nDG_flag 0\nCA_flag 0\n"
                    "ps 0\nASCTyDSCTy 0\nmuA_info_valid 0\n";
            line += 11;
        }
    }
    const DAB_ListCheck check = check_text(text);
    EXPECT_EQ(check.whole, 0);
    EXPECT_EQ(check.fault, DAB_LIST_OUT_OF_RANGE);
    EXPECT_EQ(check.line, overflowing);
}

TEST_F(StationListCheck, CheckedReadLoadsWhatThePlainReadLoads) {
    std::string text = saved(*two_ensembles(), 40);
    text.replace(text.find("PTY 31"), 6, "PTY 99");
    station_test::write_file(path_, text);
    auto plain = station_test::make_results();
    auto checked = station_test::make_results();
    uint8_t plain_volume = 0;
    uint8_t checked_volume = 0;
    DAB_ListCheck check{};
    station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_read_scan_results(plain.get(), path_.c_str(), &plain_volume), 0);
        EXPECT_EQ(DAB_read_station_list(checked.get(), path_.c_str(), &checked_volume, &check), 0);
    });
    EXPECT_EQ(check.whole, 0);
    EXPECT_EQ(check.fault, DAB_LIST_OUT_OF_RANGE);
    EXPECT_EQ(checked_volume, plain_volume);
    EXPECT_EQ(std::memcmp(plain.get(), checked.get(), sizeof(DAB_ScanResults)), 0);
}

// ---- the volume read back ----------------------------------------------------------

TEST(StationListVolume, VolumeOutsideItsRangeIsReadAsTheNearestBound) {
    station_test::ScratchDir dir;
    const std::string path = (dir / "stationlist.txt").string();
    struct Case {
        const char *line;
        uint8_t expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"1", 1},
        {"62", 62},
        {"63", 63},
        {"64", 63},
        {"200", 63},
        {"255", 63},
        {"256", 63},
        {"4294967295", 63},
        {"4294967296", 63},
        {"99999999999999999999", 63},
        {"-1", 0},
        {"-200", 0},
        {"+5", 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        station_test::write_file(path, std::string("Automatically generated and machine read file, "
                                                   "do not change!\nVolume: ") +
                                           c.line +
                                           "\nDate of scan (YYYY-MM-DD, HH:MM:SS): 0-0-0, 0:0:0\n"
                                           "Num. Ensembles: 0\n");
        auto results = station_test::make_results();
        uint8_t volume = 30;
        station_test::captured_stdout(
            [&] { EXPECT_EQ(DAB_read_scan_results(results.get(), path.c_str(), &volume), 0); });
        EXPECT_EQ(volume, c.expected);
    }
}

TEST(StationListVolume, VolumeLineThatCannotBeReadLeavesTheVolume) {
    station_test::ScratchDir dir;
    const std::string path = (dir / "stationlist.txt").string();
    for (const char *line : {"Volume: loud", "Volume: ", "Vol: 20", "Volume: -"}) {
        SCOPED_TRACE(line);
        station_test::write_file(path, std::string("Automatically generated and machine read "
                                                   "file, do not change!\n") +
                                           line + "\nNum. Ensembles: 0\n");
        auto results = station_test::make_results();
        uint8_t volume = 30;
        station_test::captured_stdout(
            [&] { EXPECT_EQ(DAB_read_scan_results(results.get(), path.c_str(), &volume), 0); });
        EXPECT_EQ(volume, 30);
    }
}

// ---- keeping a damaged list ------------------------------------------------------------

TEST_F(StationListCheck, DamagedListIsKeptByteForByteAndNeverOverAnEarlierCopy) {
    const std::string first = "Automatically generated\nVolume: 9\n\xff\x00 bytes\n";
    const std::string second = "another damaged list\n";
    const std::string users = "a file the user put there\n";
    station_test::write_file(path_ + ".damaged-1", users);
    char kept[DAB_PATH_ROOM] = {};

    station_test::write_file(path_, first);
    ASSERT_EQ(DAB_keep_station_list(path_.c_str(), kept, sizeof kept), 0);
    EXPECT_EQ(std::string(kept), path_ + ".damaged-2");
    EXPECT_EQ(station_test::read_file(kept), first);
    // The same bytes again: the copy already kept is named, none is added.
    ASSERT_EQ(DAB_keep_station_list(path_.c_str(), kept, sizeof kept), 0);
    EXPECT_EQ(std::string(kept), path_ + ".damaged-2");

    station_test::write_file(path_, second);
    ASSERT_EQ(DAB_keep_station_list(path_.c_str(), kept, sizeof kept), 0);
    EXPECT_EQ(std::string(kept), path_ + ".damaged-3");
    EXPECT_EQ(station_test::read_file(path_ + ".damaged-1"), users);
    EXPECT_EQ(station_test::read_file(path_ + ".damaged-2"), first);
    EXPECT_EQ(station_test::read_file(path_ + ".damaged-3"), second);
    EXPECT_EQ(names_in(dir_.path()).size(), 4u);
}

TEST_F(StationListCheck, LinkUnderACopysNameIsNeverTakenForAKeptCopy) {
    // The link leads to the list itself, whose bytes a save would replace.
    station_test::write_file(path_, "damaged\n");
    fs::create_symlink("stationlist.txt", path_ + ".damaged-1");
    char kept[DAB_PATH_ROOM] = {};
    ASSERT_EQ(DAB_keep_station_list(path_.c_str(), kept, sizeof kept), 0);
    EXPECT_EQ(std::string(kept), path_ + ".damaged-2");
    EXPECT_EQ(station_test::read_file(kept), "damaged\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path_ + ".damaged-1")));
}

TEST_F(StationListCheck, KeptCopyHasTheListsOwnerAndModeAndALinksTargetBytes) {
    const fs::path target = dir_ / "real-list.txt";
    station_test::write_file(target, "damaged\n");
    ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(target.c_str(), 4321, 8765), 0);
    }
    fs::create_symlink(target, path_);
    char kept[DAB_PATH_ROOM] = {};
    ASSERT_EQ(DAB_keep_station_list(path_.c_str(), kept, sizeof kept), 0);
    struct stat info {};
    ASSERT_EQ(lstat(kept, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "a file of its own, not a link";
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    if (geteuid() == 0) {
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 8765u);
    }
    EXPECT_EQ(station_test::read_file(kept), "damaged\n");
}

TEST_F(StationListCheck, ListThatCannotBeKeptIsAFailure) {
    char kept[DAB_PATH_ROOM] = {};
    int16_t status = 0;
    const std::string printed = station_test::captured_stdout(
        [&] { status = DAB_keep_station_list(path_.c_str(), kept, sizeof kept); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(DABUtils_ErrorCode, 16);
    EXPECT_EQ(printed, "DABUtils error No: 16, returned retval: -6\n");
    EXPECT_TRUE(names_in(dir_.path()).empty());
}

} // namespace
