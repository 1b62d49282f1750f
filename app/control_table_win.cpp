#include "app/control_table_win.h"

namespace {

// Labels take no input and stay out of the tab order; the 24-pixel ones centre their single
// line vertically.
constexpr DWORD kLabel = WS_CHILD | WS_GROUP | SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE;
constexpr DWORD kBannerLabel = WS_CHILD | WS_GROUP | SS_LEFT | SS_NOPREFIX;
// The two radio buttons form one group: WS_GROUP on the first, none on the second, and the
// control after them starts the next group.
constexpr DWORD kRadio = WS_CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON | BS_LEFT | BS_VCENTER;
constexpr DWORD kButton = WS_CHILD | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER;
constexpr DWORD kEdit = WS_CHILD | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
// Enter breaks the line in the log instead of being taken by the keyboard navigation.
constexpr DWORD kLogEdit =
    WS_CHILD | WS_TABSTOP | WS_GROUP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
constexpr DWORD kDropDownList = WS_CHILD | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);

// Where to get the two emulator builds the tool supports, and who made the tool.
constexpr const char kNoticeText[] =
    "逍遥模拟器7.2.2版：请到逍遥模拟器官网的下载页面获取\r\n"
    "逍遥模拟器7.2.1版：请到逍遥模拟器官网的下载页面获取\r\n"
    "Tarvex多开快照工具：独立制作，与逍遥模拟器官方无关\r\n";

}  // namespace

const char* const kMainWindowTitle = "Tarvex逍遥模拟器多开快照工具一键版";

// clang-format off
const std::array<ControlRow, kControlCount> kControlTable = {{
    {Control::透明标签5, L"Static", kBannerLabel, 0, 8, 176, 352, 16,
     "多开快照技术——磁盘占用减少72%，游戏启动速度提升10倍", kRed},
    {Control::单选框2, L"Button", kRadio | WS_GROUP, 0, 278, 99, 80, 24, "版本7.2.2", kBlack},
    {Control::单选框1, L"Button", kRadio, 0, 184, 98, 80, 24, "版本7.2.1", kBlack},
    {Control::编辑框_日志, L"Edit", kLogEdit, WS_EX_CLIENTEDGE, 8, 200, 352, 152, kNoticeText, kBlack},
    {Control::按钮_刷新模拟器, L"Button", kButton, 0, 264, 36, 96, 24, "刷新模拟器", kBlack},
    {Control::按钮_一键生成快照, L"Button", kButton, 0, 80, 130, 240, 32, "一键生成快照", kBlack},
    {Control::透明标签4, L"Static", kLabel, 0, 8, 98, 64, 24, "快照数量", kBlack},
    {Control::编辑框_数量, L"Edit", kEdit | ES_CENTER, WS_EX_CLIENTEDGE, 75, 98, 88, 24, "10", kBlack},
    {Control::编辑框2, L"Edit", kEdit | ES_CENTER, WS_EX_CLIENTEDGE, 75, 68, 168, 24, "MEmu", kBlack},
    {Control::透明标签3, L"Static", kLabel, 0, 8, 68, 64, 24, "快照名称", kBlack},
    {Control::组合框1, L"ComboBox", kDropDownList, 0, 75, 38, 153, 20, "", kBlack},
    {Control::透明标签2, L"Static", kLabel, 0, 8, 38, 64, 24, "快照母盘", kBlack},
    {Control::编辑框_模拟器目录, L"Edit", kEdit | ES_LEFT, WS_EX_CLIENTEDGE, 75, 8, 287, 24, "", kBlack},
    {Control::透明标签1, L"Static", kLabel, 0, 8, 8, 64, 24, "模拟器路径", kBlack},
}};
// clang-format on
