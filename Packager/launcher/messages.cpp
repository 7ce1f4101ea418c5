#include "launcher/messages.h"

#include "languages.h"
#include "result_codes.h"

namespace qnvpd {

const wchar_t kMessageCaption[] = L"KAVRO QN Virtual Port Driver Ver.7.20b";

namespace {

// Escapes keep the source ASCII; the comments give the text.
const MessageTexts kEnglish = {
    L"This installer is already running.",
    L"This operating system is not supported.\r\nInstallation canceled.",
    L"Please log on administrator account.",
    L"Installation failed.",
};

const MessageTexts kJapanese = {
    // 本インストーラはすでに起動しています。
    L"\u672C\u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u306F\u3059\u3067\u306B\u8D77\u52D5\u3057"
    L"\u3066\u3044\u307E\u3059\u3002",
    // サポート対象外のOSの為、インストールできません。\r\nインストールを中止します。
    L"\u30B5\u30DD\u30FC\u30C8\u5BFE\u8C61\u5916\u306EOS\u306E\u70BA\u3001\u30A4\u30F3\u30B9"
    L"\u30C8\u30FC\u30EB\u3067\u304D\u307E\u305B\u3093\u3002\r\n\u30A4\u30F3\u30B9\u30C8\u30FC"
    L"\u30EB\u3092\u4E2D\u6B62\u3057\u307E\u3059\u3002",
    // 管理者権限で実行してください。
    L"\u7BA1\u7406\u8005\u6A29\u9650\u3067\u5B9F\u884C\u3057\u3066\u304F\u3060\u3055\u3044"
    L"\u3002",
    // インストールに失敗しました。
    L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u306B\u5931\u6557\u3057\u307E\u3057\u305F\u3002",
};

const MessageTexts kChinesePrc = {
    // 安装程序已经运行。
    L"\u5B89\u88C5\u7A0B\u5E8F\u5DF2\u7ECF\u8FD0\u884C\u3002",
    // 此操作系统不被支持。\r\n安装中止。
    L"\u6B64\u64CD\u4F5C\u7CFB\u7EDF\u4E0D\u88AB\u652F\u6301\u3002\r\n\u5B89\u88C5\u4E2D\u6B62"
    L"\u3002",
    // 请登录管理员帐户。
    L"\u8BF7\u767B\u5F55\u7BA1\u7406\u5458\u5E10\u6237\u3002",
    // 安装失败。
    L"\u5B89\u88C5\u5931\u8D25\u3002",
};

const MessageTexts kChineseTaiwan = {
    // 安裝程序已經進行中。
    L"\u5B89\u88DD\u7A0B\u5E8F\u5DF2\u7D93\u9032\u884C\u4E2D\u3002",
    // 此作業系統不被支援。\r\n安裝中止。
    L"\u6B64\u4F5C\u696D\u7CFB\u7D71\u4E0D\u88AB\u652F\u63F4\u3002\r\n\u5B89\u88DD\u4E2D\u6B62"
    L"\u3002",
    // 請使用管理員帳號登入。
    L"\u8ACB\u4F7F\u7528\u7BA1\u7406\u54E1\u5E33\u865F\u767B\u5165\u3002",
    // 安裝失敗。
    L"\u5B89\u88DD\u5931\u6557\u3002",
};

}  // namespace

const MessageTexts& MessageTextsFor(LANGID userLanguage) {
  switch (LanguageFor(userLanguage).messages) {
    case MessageLanguage::Japanese: return kJapanese;
    case MessageLanguage::ChinesePrc: return kChinesePrc;
    case MessageLanguage::ChineseTaiwan: return kChineseTaiwan;
    case MessageLanguage::English: break;
  }
  return kEnglish;
}

std::wstring MessageText(int code, LANGID userLanguage) {
  const MessageTexts& texts = MessageTextsFor(userLanguage);
  switch (code) {
    case kResultAlreadyRunning: return texts.alreadyRunning;
    case kResultUnsupportedOs: return texts.unsupportedOs;
    case kResultNotAdministrator: return texts.notAdministrator;
    case kResultInstallFailed: return texts.installFailed;
    default: return std::wstring();
  }
}

}  // namespace qnvpd
