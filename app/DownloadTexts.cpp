#include "app/DownloadTexts.h"

#include "engine/XLDownload.h"

#include <string>

std::string FileNameFromUrl(const std::string& url) {
    const size_t slash = url.rfind('/');
    if (slash == std::string::npos) return {};
    return url.substr(slash + 1, MaxFileNameLength);
}

namespace {

// n / d rounded to the nearest integer, an exact half to the even neighbour (d > 0).
int64_t DivideHalfEven(int64_t n, int64_t d) {
    int64_t q = n / d, r = n % d;
    if (r < 0) { // floor division, so the remainder is never negative
        r += d;
        --q;
    }
    if (2 * r > d || (2 * r == d && (q & 1))) ++q;
    return q;
}

} // namespace

std::string FormatSizeText(int64_t bytes, char decimalSeparator) {
    // Digits without printf: the C runtime's would bring its whole formatter into the program.
    const int64_t kb = DivideHalfEven(bytes, 1024);
    if (kb <= 1000) return std::to_string(kb) + " KB";
    // Hundredths of a megabyte, rounded on the exact value with halves going up (kb > 0 here).
    const int64_t cents = (kb * 100 + 512) / 1024;
    const int64_t hundredths = cents % 100;
    return std::to_string(cents / 100) + decimalSeparator + (hundredths < 10 ? "0" : "") +
           std::to_string(hundredths) + " MB";
}

std::string FailureText(uint32_t error) {
    // Where another mirror may well have a good copy, the text says so: the window has just
    // checked the other one.
    const char* reason = nullptr;
    switch (error) {
    case ErrorHttpStatus:
        reason = "此镜像上没有该文件，可换镜像重试";
        break;
    case ErrorNetwork:
    case ErrorRedirects:
        reason = "无法连接网络或服务器，可换镜像重试";
        break;
    case ErrorDiskFull:
        reason = "磁盘空间不足，请清理后重试";
        break;
    case ErrorVerify:
    case ErrorUnstable:
        reason = "文件损坏，未通过校验，可换镜像重试";
        break;
    case ErrorFile:
    case ErrorRename:
    case ErrorBadUrl:
        reason = "无法保存文件";
        break;
    case ErrorInUse:
        reason = "另一个程序正在下载该文件";
        break;
    case ErrorTls:
    case ErrorInsecureRedirect:
        reason = "无法验证服务器的身份，可换镜像重试";
        break;
    case ErrorProxyAuth:
        reason = "代理服务器需要身份验证";
        break;
    case ErrorProxyUnreachable:
        reason = "无法连接代理服务器，请检查代理设置";
        break;
    case ErrorSignInPage:
        reason = "网络返回了登录网页，请先登录后重试";
        break;
    default:
        return "下载失败，可换镜像重试";
    }
    return std::string("下载失败：") + reason;
}

bool MirrorMayHelp(uint32_t error) {
    switch (error) {
    case ErrorDiskFull:
    case ErrorFile:
    case ErrorRename:
    case ErrorBadUrl:
    case ErrorInUse:
    case ErrorProxyAuth: // the other mirror goes through the same proxy
    case ErrorProxyUnreachable:
    case ErrorSignInPage: // the network answers for every server alike
        return false;
    default:
        return true;
    }
}

std::string StartTroubleText(TStartTrouble trouble) {
    switch (trouble) {
    case TStartTrouble::NotTheMakers:
        return "安装包签名无效，已删除，可换镜像重试";
    case TStartTrouble::NotTheMakersKept:
        return "安装包签名无效，请勿运行，可换镜像重试";
    case TStartTrouble::Older:
        return "安装包比上次的旧，已删除，可换镜像重试";
    case TStartTrouble::OlderKept:
        return "安装包比上次的旧，勿运行，可换镜像重试";
    case TStartTrouble::Missing:
        return "未能启动安装程序：文件已不存在，可重试";
    case TStartTrouble::InUse:
        return "未能启动安装程序：文件被其他程序占用";
    case TStartTrouble::Declined:
        return "未能启动安装程序：未获管理员授权，可重试";
    case TStartTrouble::Blocked:
        return "未能启动安装程序：被系统或杀毒软件阻止";
    case TStartTrouble::Other:
        break;
    }
    return "未能启动安装程序，可重试";
}

bool MirrorMayHelp(TStartTrouble trouble) {
    switch (trouble) {
    case TStartTrouble::NotTheMakers:
    case TStartTrouble::NotTheMakersKept:
    case TStartTrouble::Older:
    case TStartTrouble::OlderKept:
        return true;
    default:
        return false;
    }
}
