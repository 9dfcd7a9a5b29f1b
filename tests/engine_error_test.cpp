// The error mechanism: code texts, the dispatcher's choices, the detail's
// life cycle, the halting path and its exit status.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/dbf.h"
#include "engine/errors.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TempDir.h"

namespace vz {
namespace {

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetEngineForTest();
    SetRaiseErrors(false);
  }
  void TearDown() override { test::ResetEngineForTest(); }
};

// Every code from 0 to beyond the last one has its standard text: the
// texts listed here, "Network Error" for the whole range 1203 to 1299, and
// "Undefined error" for every other code; code 0 has no text at all.
TEST_F(ErrorTest, CodeTextsFollowTheTable) {
  const std::map<int, std::string> kTexts = {
      {1, "Invalid DOS function code"},
      {2, "File not found"},
      {3, "Path not found"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {6, "Invalid file handle"},
      {8, "Not enough memory"},
      {9, "Memory block address invalid"},
      {10, "Environment invalid"},
      {11, "Format invalid"},
      {12, "Invalid file access code"},
      {13, "Data invalid"},
      {14, "Unknown unit"},
      {15, "Invalid drive number"},
      {16, "Cannot remove current directory"},
      {17, "Cannot rename across drives"},
      {18, "Too many open files"},
      {19, "Disk write-protected"},
      {20, "Unknown unit"},
      {21, "Drive not ready"},
      {22, "Unknown command"},
      {23, "CRC error in data"},
      {24, "Bad drive request structure length"},
      {25, "Disk seek error"},
      {26, "Unknown media type"},
      {27, "Disk sector not found"},
      {28, "Printer out of paper"},
      {29, "Device write fault"},
      {30, "Device read fault"},
      {31, "General failure"},
      {32, "File sharing violation"},
      {33, "File lock violation"},
      {34, "Disk change invalid"},
      {35, "File Control Block unavailable"},
      {36, "File sharing buffer overflow"},
      {50, "Unsupported network request"},
      {51, "Remote machine not listening"},
      {52, "Duplicate name on network"},
      {53, "Network name not found"},
      {54, "Network busy"},
      {55, "Device no longer exists on network"},
      {56, "Net-Bios command limit exceeded"},
      {57, "Error in network adapter hardware"},
      {58, "Incorrect response from network"},
      {59, "Unexpected network error"},
      {60, "Remote adapter incompatible"},
      {100, "Disk read error"},
      {101, "Disk write error (probable cause: Disk Full)."},
      {102, "File not assigned"},
      {103, "File not open"},
      {104, "File not open for input"},
      {105, "File not open for output"},
      {106, "Invalid numeric format"},
      {150, "Disk write-protected"},
      {151, "Unknown unit"},
      {152, "Drive not ready"},
      {153, "Unknown command"},
      {154, "CRC error in data"},
      {155, "Bad drive request structure length"},
      {156, "Disk seek error"},
      {157, "Unknown media type"},
      {158, "Disk sector not found"},
      {159, "Printer out of paper"},
      {160, "Device write fault"},
      {161, "Device read fault"},
      {162, "File sharing violation"},
      {200, "Division by zero error"},
      {201, "Range check error"},
      {202, "Stack overflow error"},
      {203, "Heap overflow error"},
      {204, "Invalid pointer operation"},
      {205, "Floating point overflow"},
      {206, "Floating point underflow"},
      {207, "Invalid floating point operation"},
      {208, "Overlay-manager not installed"},
      {209, "Overlay file read error"},
      {210, "Not a dBASE data file"},
      {211, "Invalid database field type encountered"},
      {212, "Request beyond range"},
      {213, "End of file found unexpectedly"},
      {214, "File already in use"},
      {215, "No database in use"},
      {216, "GP Fault"},
      {217, "Insufficient memory"},
      {218, "Invalid pointer specified"},
      {219, "Cannot duplicate file handle"},
      {220, "Invalid parameter"},
      {221, "Index file not open"},
      {222, "Corrupted index file"},
      {223, "Index version mismatch"},
      {224, "Cyclical relationship detected"},
      {225, "Exclusive Use() required"},
      {226, "BROWSE not active"},
      {227, "Insufficient disk space"},
      {228, "Unbalanced Push/Pop operation"},
      {229, "dBASE IV memo files not supported"},
      {230, "No dBASE memory variables loaded"},
      {231, "Screen library not open"},
      {239, "Missing colon in time"},
      {240, "Non-numeric character in time"},
      {241, "Invalid time specified"},
      {242, "Negative time specified"},
      {243, "TimeDiff result negative"},
      {254, "Zavod internal error"},
      {266, "Invalid size"},
      {1003, "Invalid memo address"},
      {1004, "Disk full"},
      {1005, "Memo file write error"},
      {1007, "Memo file is already open"},
      {1012, "Insufficient disk space to pack memo file"},
      {1017, "Cannot lock memo file"},
      {1018, "Cannot unlock memo file"},
      {1019, "Invalid memo operation: database not open or no memo field in database"},
      {1100, "Not a valid operation on Linked List"},
      {1101, "Virtual File Manager Unit not Linked in"},
      {1102, "Virtual File Memory Management Error"},
      {1103, "Invalid Operation"},
      {1200, "Record not locked"},
      {1201, "File not locked"},
      {1202,
       "Semaphore file error. Possible solutions: log into network or load SHARE.EXE before "
       "running Windows"},
      {1300, "File format not supported"},
  };
  EXPECT_EQ(ErrorText(0), "");
  for (int code = 1; code <= 1400; ++code) {
    std::string text = "Undefined error";
    if (const auto it = kTexts.find(code); it != kTexts.end()) text = it->second;
    if (code >= 1203 && code <= 1299) text = "Network Error";
    EXPECT_EQ(StandardErrorText(code), text) << code;
    EXPECT_EQ(ErrorText(code), "Error # " + std::to_string(code) + " (" + text + ")") << code;
  }
  EXPECT_EQ(StandardErrorText(65535), "Undefined error");
}

TEST_F(ErrorTest, CodeZeroWithoutHandlerOnlyStores) {
  SetError(0, "nothing wrong");
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "nothing wrong");
  EXPECT_FALSE(Engine().Errors.Halting);
}

TEST_F(ErrorTest, HandlerIsCalledEvenForCodeZeroAndKeepsTheDetail) {
  int calls = 0;
  Engine().Errors.ErrorHandler = [&] { ++calls; };
  SetError(0, "zero");
  SetError(220, "Invalid workarea selected = [Select(34)]");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Engine().Errors.ErrorCode, 220);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Invalid workarea selected = [Select(34)]");
  EXPECT_EQ(Engine().Errors.MessageCode, 220);
}

TEST_F(ErrorTest, ErrorMessageIsDeliveredOnce) {
  SetErrorDispatch(false);
  SetError(2, "Failure to open X [USE/OpenDbf]");
  EXPECT_EQ(ErrorMessage(), "Error # 2 (File not found)\r\nFailure to open X [USE/OpenDbf]");
  EXPECT_EQ(ErrorMessage(), "");
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);  // the code stays readable
}

TEST_F(ErrorTest, TakeErrorDetailEmptiesDetailAndMessageCode) {
  SetErrorDispatch(false);
  SetError(5, "detail");
  EXPECT_EQ(TakeErrorDetail(), "detail");
  EXPECT_EQ(Engine().Errors.ErrorDetail, "");
  EXPECT_EQ(Engine().Errors.MessageCode, 0);
}

// A reset engine holds nothing of the texts it was given before: a long
// error text or locate term must not keep its memory for the rest of the
// process (the fuzz targets count every allocation an input leaves).
TEST_F(ErrorTest, ResetFreesTheTextsTheEngineHeld) {
  const std::size_t empty = std::string().capacity();
  SetErrorDispatch(false);
  SetError(5, std::string(500, 'x'));
  Engine().LastLocate.value = std::string(300, 'y');
  Engine().Reset();
  EXPECT_EQ(Engine().Errors.ErrorDetail.capacity(), empty);
  EXPECT_EQ(Engine().LastLocate.value.capacity(), empty);
}

TEST_F(ErrorTest, SwitchesReturnTheirPreviousValue) {
  EXPECT_TRUE(SetErrorDispatch(false));
  EXPECT_FALSE(SetErrorDispatch(true));
  EXPECT_FALSE(SetRaiseErrors(true));
  EXPECT_TRUE(SetRaiseErrors(false));
}

TEST_F(ErrorTest, RaiseErrorsThrowsWithTheFullMessage) {
  SetRaiseErrors(true);
  try {
    SetError(214, "File: X is already in use. [USE]");
    FAIL() << "no exception";
  } catch (const EngineError& e) {
    EXPECT_STREQ(e.what(), "Error # 214 (File already in use)\r\nFile: X is already in use. [USE]");
  }
  EXPECT_EQ(Engine().Errors.ErrorDetail, "");  // the detail went into the message
}

TEST_F(ErrorTest, DispatchOffReturnsWithTheCodeAndAFreeArea) {
  test::TempDir dir;
  SetErrorDispatch(false);
  Select(1);
  USE(dir.File("missing.dbf"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 2);
  EXPECT_EQ(CurrentTable(), nullptr);
  EXPECT_NE(ErrorMessage().find("Failure to open"), std::string::npos);
}

TEST_F(ErrorTest, HaltingFlagSilencesTheDispatcher) {
  int calls = 0;
  Engine().Errors.ErrorHandler = [&] { ++calls; };
  Engine().Errors.Halting = true;
  SetError(210, "x");
  EXPECT_EQ(calls, 0);
}

TEST_F(ErrorTest, FreeingNothingFailsWithCode9) {
  SetErrorDispatch(false);
  void* p = nullptr;
  FreeMem(p);
  EXPECT_EQ(Engine().Errors.ErrorCode, 9);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Attempt to free NIL pointer [FreeMem()]");
  p = GetMem(100);
  ASSERT_NE(p, nullptr);
  ClearError();
  FreeMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(Engine().Errors.ErrorCode, 0);
}

TEST_F(ErrorTest, FlushingAClosedFileFails) {
  SetErrorDispatch(false);
  platform::File f;
  FlushFile(f);
  EXPECT_NE(Engine().Errors.ErrorCode, 0);
  EXPECT_EQ(Engine().Errors.ErrorDetail, "Unable to flush file [FlushFile]");
}

TEST(ExitStatus, NeverZeroForAnError) {
  EXPECT_EQ(platform::ExitStatusFor(210), 210);
  EXPECT_EQ(platform::ExitStatusFor(2), 2);
  EXPECT_EQ(platform::ExitStatusFor(1003), 1003 % 256);
  EXPECT_EQ(platform::ExitStatusFor(256), 255);
  EXPECT_EQ(platform::ExitStatusFor(512), 255);
  EXPECT_EQ(platform::ExitStatusFor(1280), 255);
}

// The halting path: message on standard error, exit status from the code.
TEST(HaltDeathTest, HaltingErrorEndsTheProgramWithItsCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::ResetEngineForTest();
  SetRaiseErrors(false);
  InstallHaltingPresentation();
  EXPECT_EXIT(SetError(210, "PC.DBF is not a dBASE database. [USE/OpenDBF]"),
              ::testing::ExitedWithCode(210),
              "Error # 210 \\(Not a dBASE data file\\)\nPC.DBF is not a dBASE database");
  EXPECT_EXIT(SetError(256, "x"), ::testing::ExitedWithCode(255), "Undefined error");
  test::ResetEngineForTest();
}

TEST(HaltDeathTest, PresenterGetsCaptionAndMessageBeforeTheEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::ResetEngineForTest();
  SetRaiseErrors(false);
  InstallHaltingPresentation();
  EXPECT_EXIT(
      {
        platform::SetHaltPresenter([](const std::string& caption, const std::string& message) {
          std::fprintf(stderr, "[%s] %s", caption.c_str(), platform::ToLines(message).c_str());
        });
        SetError(2, "Failure to open /X/PC.DBF [USE/OpenDbf]");
      },
      ::testing::ExitedWithCode(2),
      "\\[Program halted.\\] Error # 2 \\(File not found\\)\nFailure to open");
  test::ResetEngineForTest();
}

// Without the halting presentation (the library's default) a halting
// error is reported to the caller: nothing is presented, the process goes
// on, and every later error is reported the same way.
TEST_F(ErrorTest, WithoutThePresentationAHaltingErrorIsReportedToTheCaller) {
  test::TempDir dir;
  std::vector<std::string> halts;
  std::vector<int> ends;
  platform::SetHaltPresenter([&](const std::string&, const std::string& m) { halts.push_back(m); });
  platform::SetTerminator([&](int status) { ends.push_back(status); });
  const auto expectReported = [](const std::function<void()>& call, const std::string& start) {
    try {
      call();
      ADD_FAILURE() << "not reported: " << start;
    } catch (const EngineError& e) {
      EXPECT_EQ(e.Message().substr(0, start.size()), start);
    }
  };
  expectReported([] { SetError(210, "PC.DBF is not a dBASE database. [USE/OpenDBF]"); },
                 "Error # 210 (Not a dBASE data file)\r\nPC.DBF is not a dBASE database.");
  expectReported([&] { USE(dir.path() + "/NONE.DBF"); }, "Error # 2 (File not found)\r\n");
  expectReported(
      [] {
        {
          ScopedErrorDispatch quiet(false);
          SetError(1103, "stored");
        }
        DispatchPending();
      },
      "Error # 1103");
  expectReported([] { Halt(1103, "Error # 1103 (x)\r\ny"); }, "Error # 1103 (x)");
  EXPECT_TRUE(halts.empty());
  EXPECT_TRUE(ends.empty());
  EXPECT_FALSE(Engine().Errors.Halting);

  // Installed, the same error is presented and ends the program; Reset
  // takes the presentation back.
  InstallHaltingPresentation();
  EXPECT_THROW(
      {
        platform::SetTerminator(
            [](int status) { throw std::runtime_error(std::to_string(status)); });
        SetError(210, "again");
      },
      std::runtime_error);
  ASSERT_EQ(halts.size(), 1u);
  EXPECT_EQ(halts[0], "Error # 210 (Not a dBASE data file)\r\nagain");
  test::ResetEngineForTest();
  SetRaiseErrors(false);
  expectReported([] { SetError(2, "after the reset"); }, "Error # 2 (File not found)\r\nafter");
  EXPECT_EQ(halts.size(), 1u);
  platform::SetHaltPresenter(nullptr);
  platform::SetTerminator(nullptr);
}

// Messages can carry bytes from damaged files: a field type byte of 0, a
// key of an index. Every byte reaches the user; control bytes other than
// CR, LF and TAB are written \xNN.
TEST_F(ErrorTest, EveryByteOfAMessageReachesTheUser) {
  const std::string detail =
      std::string("Field: X [") + '\0' + "] in T.DBF \x01\x1b\x7f" + "end\ttab [USE]";
  const std::string shown = "Field: X [\\x00] in T.DBF \\x01\\x1b\\x7fend\ttab [USE]";
  EXPECT_EQ(platform::VisibleText(detail), shown);
  EXPECT_EQ(platform::VisibleText(shown), shown);  // shown once more: the same
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  const std::string all = platform::VisibleText(everyByte);
  EXPECT_EQ(all.size(), 256u + 3 * (32 - 3 + 1));
  EXPECT_EQ(all.substr(0, 12), "\\x00\\x01\\x02");
  EXPECT_NE(all.find("\\x08\t\n\\x0b\\x0c\r\\x0e"), std::string::npos);
  EXPECT_NE(all.find("}~\\x7f\x80\x81"), std::string::npos);

  // The terminal: the default presenters write all of it.
  ::testing::internal::CaptureStderr();
  platform::ShowMessage(detail);
  platform::PresentHalt(kHaltCaption, ErrorText(211) + "\r\n" + detail);
  EXPECT_EQ(
      ::testing::internal::GetCapturedStderr(),
      shown + "\n" + "Error # 211 (Invalid database field type encountered)\n" + shown + "\n");

  // An error raised as an exception: what() shows every byte, Message()
  // keeps them as they were.
  SetRaiseErrors(true);
  try {
    SetError(211, detail);
    FAIL() << "no exception";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error # 211 (Invalid database field type encountered)\r\n" + shown);
    EXPECT_EQ(e.Message(), "Error # 211 (Invalid database field type encountered)\r\n" + detail);
  }
}

TEST(HaltDeathTest, AHaltingMessageIsNotCutAtANul) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::ResetEngineForTest();
  SetRaiseErrors(false);
  InstallHaltingPresentation();
  EXPECT_EXIT(
      SetError(211, std::string("Field:  [") + '\0' + "] in T.DBF is not a valid field type"),
      ::testing::ExitedWithCode(211),
      "Error # 211 \\(Invalid database field type encountered\\)\n"
      "Field:  \\[\\\\x00\\] in T.DBF is not a valid field type\n");
  test::ResetEngineForTest();
}

}  // namespace
}  // namespace vz
