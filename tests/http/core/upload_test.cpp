// Upload by POST against the scripted server: the body and headers on the
// wire per send type, the answer handed back, and the resend and restart
// rules seen through the WinHTTP call table.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/config/settings.h"
#include "http/requestcore.h"
#include "http/upload.h"
#include "tests/support/logcheck.h"
#include "tests/http/core/seam.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"

namespace {

using twtest::Response;
using twtest::ScriptedServer;

class Upload : public testing::Test {
 protected:
  void SetUp() override {
    ResetAgentSettings();
    ASSERT_TRUE(server.Ok()) << server.Error();
    server.Serve("/post", Response::Ok("received"));
  }
  int32_t Post(const char* body, int32_t type, OptText* out = nullptr, int32_t postSize = 0,
               const wchar_t* path = L"/post", bool keepAlive = true) {
    return InternetSendRequestEx(false, "http", L"127.0.0.1", server.Port(), nullptr, nullptr, nullptr, nullptr, path,
                                 body, out, type, keepAlive, postSize);
  }
  twtest::RecordedRequest Only() {
    EXPECT_EQ(server.RequestCount(), 1u);
    const auto reqs = server.Requests();
    return reqs.empty() ? twtest::RecordedRequest{} : reqs[0];
  }
  ScriptedServer server;
  twtest::LogCapture log{4, "upload"};
};

const char kBody[] = "name=value&other=something longer";  // 33 bytes

TEST_F(Upload, FormDataSendsTheGivenLengthWithMultipartType) {
  ASSERT_EQ(Post(kBody, SEND_FORM_DATA, nullptr, 0), 0);
  twtest::RecordedRequest r = Only();
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.body, kBody);
  EXPECT_EQ(r.Header("content-type").value_or(""), "multipart/form-data");
  EXPECT_EQ(r.Header("user-agent").value_or(""), "TarnwickAgent");
  EXPECT_EQ(r.Header("connection").value_or(""), "Keep-Alive");
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "InternetSendRequestEx : dwPostSize: 33 \n"));
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "InternetSendRequestEx : Successfully posted the data to the server 127.0.0.1 \n"));

  server.ClearRequests();
  ASSERT_EQ(Post(kBody, SEND_FORM_DATA, nullptr, 10), 0);
  EXPECT_EQ(Only().body, "name=value");
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "InternetSendRequestEx : dwPostSize: 10 \n"));

  // A length past the end of the text is cut to the text.
  server.ClearRequests();
  ASSERT_EQ(Post(kBody, SEND_FORM_DATA, nullptr, 1000), 0);
  EXPECT_EQ(Only().body, kBody);
}

TEST_F(Upload, TimeoutsOnlyForTheTimedSendAndNoContentTypeButForForms) {
  gv_httpConnectionTimeout = 1111;
  gv_httpRequestTimeout = 2222;
  {
    // Plain send: postSize is ignored, the answer is not read without outData.
    twtest::WinHttpSeam seam;
    ASSERT_EQ(Post(kBody, SEND_DATA, nullptr, 10, L"/post", false), 0);
    twtest::RecordedRequest r = Only();
    EXPECT_EQ(r.body, kBody);
    EXPECT_FALSE(r.Header("content-type").has_value());
    EXPECT_EQ(r.Header("connection").value_or(""), "close");
    EXPECT_TRUE(seam.record.options.empty());
    EXPECT_EQ(seam.record.verbs, std::vector<std::wstring>{L"POST"});
    EXPECT_EQ(seam.record.closes, 3);  // request, connection and session
    EXPECT_FALSE(twtest::HasLine(log, "[INFO]", "InternetSendRequestEx : Reading the response sent by the server 127.0.0.1 \n"));
  }
  server.ClearRequests();
  twtest::WinHttpSeam seam;
  ASSERT_EQ(Post(kBody, SEND_DATA_TIMED), 0);
  const auto* connect = seam.record.FindOption(WINHTTP_OPTION_CONNECT_TIMEOUT);
  const auto* receive = seam.record.FindOption(WINHTTP_OPTION_RECEIVE_TIMEOUT);
  ASSERT_NE(connect, nullptr);
  ASSERT_NE(receive, nullptr);
  EXPECT_EQ(connect->number, 1111u);
  EXPECT_EQ(receive->number, 2222u);
  EXPECT_FALSE(Only().Header("content-type").has_value());
}

TEST_F(Upload, AnswerComesBackWholeEvenInPieces) {
  OptText answer;
  ASSERT_EQ(Post(kBody, SEND_DATA, &answer), 0);
  EXPECT_EQ(answer, "received");
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]", "InternetSendRequestEx : Reading the response sent by the server 127.0.0.1 \n"));
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "InternetSendRequestEx :  No Of Bytes -> 8 \n"));

  const std::string big = twtest::PatternBytes(20000);
  Response pieces = Response::Ok(big);
  pieces.pieceSize = 3000;
  pieces.pieceDelayMs = 20;
  server.Serve("/pieces", pieces);
  OptText whole;
  ASSERT_EQ(Post(kBody, SEND_DATA, &whole, 0, L"/pieces"), 0);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->size(), big.size());
  EXPECT_TRUE(*whole == big);
}

TEST_F(Upload, MissingBodyAndFailedStatuses) {
  OptText answer = "untouched";
  EXPECT_EQ(Post(nullptr, SEND_DATA, &answer), 13);
  EXPECT_EQ(answer, "untouched");
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(twtest::HasLine(log, "[DEBUG]", "@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n"));

  server.Serve("/fail", Response::Status(500, "no"));
  EXPECT_EQ(Post(kBody, SEND_DATA, &answer, 0, L"/fail"), 500);
  EXPECT_EQ(answer, "untouched");
  EXPECT_TRUE(twtest::HasLine(
      log, "[ERROR]", "InternetSendRequestEx : Failed to post the data to the server 127.0.0.1 with http status code 500 \n"));

  server.Serve("/proxy", Response::Status(407));
  EXPECT_EQ(Post(kBody, SEND_DATA, &answer, 0, L"/proxy"), 407);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "InternetSendRequestEx : Proxy Credentials are failed to authenticate 407 \n"));
}

TEST_F(Upload, AnswerWithoutContentLengthIsAFailure) {
  Response chunked = Response::Ok("chunked answer");
  chunked.chunked = true;
  server.Serve("/chunked", chunked);
  OptText answer;
  EXPECT_EQ(Post(kBody, SEND_DATA, &answer, 0, L"/chunked"), 12150);
  EXPECT_TRUE(twtest::HasLine(
      log, "[ERROR]", "InternetSendRequestEx :  WinHttpQueryHeaders failed with the error code while getting content length -> 12150 \n"));
}

// The room for an answer is four times its announced length and a little
// more: for a length near 4 GB that is more than the 32-bit program can ever
// hold (and more than 32 bits can count). It is never asked for; the call
// ends with 13 and leaves the caller's text alone.
TEST_F(Upload, AnswerAnnouncingMoreThanCanBeHeldEndsWith13) {
  // The first is the smallest length whose room no longer fits 32 bits; the
  // second the largest length every WinHTTP reads as a number.
  for (uint64_t announced : {0x3FFFFFFEull, 0x7FFFFFFFull}) {
    SCOPED_TRACE(announced);
    Response huge = Response::Ok("short answer");
    huge.contentLength = announced;
    server.Serve("/huge", huge);
    OptText answer = "untouched";
    EXPECT_EQ(Post(kBody, SEND_DATA, &answer, 0, L"/huge"), 13);
    EXPECT_EQ(answer, "untouched");
    EXPECT_TRUE(twtest::HasLine(log, "[ERROR]",
                                "InternetSendRequestEx : The answer of " + std::to_string(announced) +
                                    " bytes announced by the server 127.0.0.1 cannot be held in memory \n"));
  }
}

TEST_F(Upload, SendRefusalReplacesOnlyTheRequest) {
  twtest::WinHttpSeam seam;
  seam.record.sendErrors = {12017};
  OptText answer;
  ASSERT_EQ(Post(kBody, SEND_FORM_DATA, &answer), 0);
  EXPECT_EQ(answer, "received");
  EXPECT_EQ(seam.record.sessions.size(), 1u);
  EXPECT_EQ(seam.record.connects, 1);
  EXPECT_EQ(seam.record.verbs.size(), 2u);
  EXPECT_EQ(Only().Header("content-type").value_or(""), "multipart/form-data");
  EXPECT_TRUE(twtest::HasLine(log, "[INFO]",
                              "InternetSendRequestEx : Going to close the request handle and going to resending the "
                              "data to the server 127.0.0.1 \n"));

  // Refused again after the restart: the upload ends with the code.
  twtest::WinHttpSeam again;
  again.record.sendErrors = {12015, 12015};
  EXPECT_EQ(Post(kBody, SEND_DATA), 12015);
  EXPECT_EQ(again.record.verbs.size(), 2u);
  EXPECT_EQ(again.record.closes, 4);  // the refused request, then request, connection and session
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "InternetSendRequestEx :  Error in WinHttpSendRequest -> 12015 \n"));
}

TEST_F(Upload, ResendsAreCountedAndPaused) {
  twtest::WinHttpSeam seam;
  seam.record.sendsSucceedSilently = true;
  seam.record.receiveErrors = {12032, 12032, 12032, 12032, 12032};
  const int32_t rc = Post(kBody, SEND_FORM_DATA);
  EXPECT_EQ(seam.record.sendLengths, std::vector<DWORD>(5, 33));
  EXPECT_EQ(seam.record.sleeps, std::vector<DWORD>(5, 5000));
  // Each send sets the content type again, replacing rather than adding it.
  int contentTypes = 0;
  for (const auto& h : seam.record.addedHeaders)
    if (h.text == L"Content-Type: multipart/form-data") {
      ++contentTypes;
      EXPECT_NE(h.flags & WINHTTP_ADDREQ_FLAG_REPLACE, 0u);
    }
  EXPECT_EQ(contentTypes, 5);
  EXPECT_NE(rc, 0);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "InternetSendRequestEx :  Error in WinHttpQueryHeaders --> " + std::to_string(rc) + " \n"));
  EXPECT_EQ(twtest::CountMessage(log, "InternetSendRequestEx : Resending the data to the server 127.0.0.1 \n"), 5);
}

TEST_F(Upload, UnparsableAnswerRestartsOnceThenSucceeds) {
  twtest::WinHttpSeam seam;
  seam.record.receiveErrors = {12152};
  OptText answer;
  // Unlike the request core, the upload reports what the final answer says.
  EXPECT_EQ(Post(kBody, SEND_DATA, &answer), 0);
  EXPECT_EQ(answer, "received");
  EXPECT_EQ(seam.record.sessions.size(), 1u);
  EXPECT_EQ(seam.record.verbs.size(), 2u);
  EXPECT_EQ(server.RequestCount(), 2u);
}

// The scripted server stands in for the proxy: the credentials reach WinHTTP
// only when longer than one character.
TEST_F(Upload, ProxyCredentialsOfOneCharacterAreNotApplied) {
  const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(server.Port());
  for (const wchar_t* user : {L"u", L"us"}) {
    twtest::WinHttpSeam seam;
    OptText answer;
    ASSERT_EQ(InternetSendRequestEx(true, "http", L"agent.example", 8080, proxy.c_str(), L"", user, L"pw", L"/post",
                                    kBody, &answer, SEND_DATA, true, 0),
              0);
    EXPECT_EQ(answer, "received");
    ASSERT_EQ(seam.record.sessions.size(), 1u);
    EXPECT_EQ(seam.record.sessions[0].accessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    const bool applied = std::wstring(user).size() > 1;
    EXPECT_EQ(seam.record.HasOption(WINHTTP_OPTION_PROXY_USERNAME), applied);
    EXPECT_EQ(seam.record.HasOption(WINHTTP_OPTION_PROXY_PASSWORD), applied);
  }
  EXPECT_EQ(server.Requests().back().target, "http://agent.example:8080/post");
}

}  // namespace
