// The whole job when the mirrors speak HTTPS: tried first, it carries the file through the
// proxy's tunnel; and where the engine cannot reach it first, mirrors that have moved to HTTPS
// answer the tool's http:// address with a redirect (301, 302, 307 or 308) to https://, and
// the tool still ends with the right file and the installer started.
#include "tests/win/engine/WholeJobSupport.h"

namespace {

using namespace mirror;

class WholeJobTls : public WholeJob {
protected:
    void SetUp() override {
        WholeJob::SetUp();
        SetEnvironmentVariableA("https_proxy", ("http://" + Address() + "/").c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableA("https_proxy", nullptr);
        SetEnvironmentVariableA("XLDL_HTTPS_PORTS", nullptr);
    }

    void EveryRedirectTo(int mirror) {
        SetEnvironmentVariableA("XLDL_HTTPS_PORTS", "0");
        for (int status : {301, 302, 307, 308}) {
            const std::string what =
                "mirror " + std::to_string(mirror) + ", " + std::to_string(status);
            for (const char* f : {Saved, Started})
                DeleteFileA(f);
            Script(R"({"rules": [{"fault": "to_https", "times": -1, "status": )" +
                   std::to_string(status) + "}]}");
            TToolProcess tool;
            ASSERT_TRUE(StartAndPress(tool, mirror)) << what;
            ExpectCompleted(tool, mirror, what);
            bool redirected = false, tunnelled = false, overTls = false;
            for (const std::string& line : Log()) {
                redirected |= Field(line, "status") == std::to_string(status);
                tunnelled |=
                    line.rfind("CONNECT dl" + std::to_string(mirror) + ".orlenz.com:", 0) == 0;
                overTls |= line.find(" tls=") != std::string::npos;
            }
            EXPECT_TRUE(redirected) << what;
            EXPECT_TRUE(tunnelled) << what;
            EXPECT_TRUE(overTls) << what;
        }
    }
};

TEST_F(WholeJobTls, TheFileComesOverHttpsFirst) {
    TToolProcess tool;
    ASSERT_TRUE(StartAndPress(tool, 1));
    ExpectCompleted(tool, 1, "over https first");
    int overTls = 0;
    for (const std::string& line : Log()) {
        if (line.rfind("GET ", 0) == 0) {
            EXPECT_NE(line.find(" tls="), std::string::npos) << "over plain http: " << line;
            overTls += line.find(" tls=") != std::string::npos;
        }
    }
    EXPECT_GT(overTls, 0) << "nothing came over https";
}

TEST_F(WholeJobTls, MirrorOneRedirectsToHttps) {
    EveryRedirectTo(1);
}

TEST_F(WholeJobTls, MirrorTwoRedirectsToHttps) {
    EveryRedirectTo(2);
}

} // namespace
