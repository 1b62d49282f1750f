#include "text/fatal_error.h"

#include <cstdio>
#include <cstdlib>

namespace fatal {
namespace {

void DefaultHandler(int code, const std::string& message, Site site) {
    std::fputs(BuildMessage(code, message, site).c_str(), stderr);
    std::_Exit(-1);
}

Handler g_handler = DefaultHandler;

}  // namespace

std::string BuildMessage(int code, const std::string& message, Site site) {
    std::string text = "运行时出错!\r\n";
    if (code != 0) text += "\r\n错误代码：" + std::to_string(code) + "\r\n";
    if (!message.empty()) text += "\r\n错误信息：" + message + "\r\n";
    text += "\r\n" + std::to_string(site.routine) + ", " + std::to_string(site.statement) + "\r\n";
    return text;
}

std::string IndexAboveCountText() {
    return "数组成员引用下标超出定义范围";
}
std::string IndexBelowOneText() {
    return "数组成员引用下标必须大于等于1";
}

std::string AllocationFailedText(size_t bytes) {
    return "分配 " + std::to_string(bytes) + " 字节内存失败!";
}

std::string MissingFunctionText(const std::string& library, const std::string& function) {
    return "无法找到指定DLL库文件“" + library + "”中的输出命令“" + function + "”";
}

std::string WindowLoadFailedText() {
    return "载入启动窗口失败";
}

Handler SetHandler(Handler handler) {
    Handler previous = g_handler;
    g_handler = handler ? handler : DefaultHandler;
    return previous;
}

void Raise(int code, const std::string& message, Site site) {
    g_handler(code, message, site);
    std::abort();
}

}  // namespace fatal
