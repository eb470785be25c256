#pragma once
// The search's own texts, as the user sees them. They are UTF-8 here and reach the window and
// the page parser through Utf8ToSystem.

namespace velmora::search_text {

inline constexpr const char* kStatusRunning = "状态：运行中";
inline constexpr const char* kStatusPaused = "状态：暂停中";
inline constexpr const char* kStatusResumed = "状态：恢复中";
inline constexpr const char* kStatusEnding = "状态：结束中";
inline constexpr const char* kStatusNoHits = "暂停中";

inline constexpr const char* kResultsBefore = "搜索结果：";
inline constexpr const char* kDispatchedBefore = "成功获取：";
inline constexpr const char* kCountAfter = "条";

// Notices in the status bar's last field: the first on result pages that are a multiple of 4,
// the second on the others.
inline constexpr const char* kNoticeNetwork =
    "温馨提醒：【推荐在网速较好的时候使用，速度以后再慢慢优化！】";
inline constexpr const char* kNoticeMenu =
    "温馨提醒：【鼠标右键表格，可以弹出菜单！发现bug欢迎联系！】";

// The status bar's last field when empty result pages end the listing: before and after their
// number.
inline constexpr const char* kEmptyPagesBefore = "温馨提醒：【连续";
inline constexpr const char* kEmptyPagesAfter = "页没有找到公司，到此结束翻页！】";

// The notice field when a search ends with pages it could not fetch: before the number of
// result pages, between it and the number of company pages, after that. A resume fetches them.
inline constexpr const char* kFailedPagesBefore = "注意：";
inline constexpr const char* kFailedResultPagesAfter = " 个结果页、";
inline constexpr const char* kFailedCompanyPagesAfter = " 个公司页未能获取，可续抓补齐";
// Why a page counts as not fetched when the site answered it with an error status: before the
// status code.
inline constexpr const char* kSiteAnsweredBefore = "网站回应 ";
// Why a page that came back counts as not read: a result page with neither a company link nor
// the pager (something else stood in its place), a redirect chain that did not end, a first page
// that lists companies under a page count that is no number of pages, a company page on which the
// pattern engine stopped at its work bound before finding a contact block.
inline constexpr const char* kNotAListing = "结果页不是列表（可能是验证页）";
inline constexpr const char* kTooManyRedirects = "网站重定向过多";
inline constexpr const char* kUnreadablePageCount = "结果页的页数无法识别";
inline constexpr const char* kCompanyPageTooComplex = "公司页过于复杂，无法提取";

// The parallel search's pacing in the notice field: why every request waits (the site asked for
// it, or looked like blocking the search, which then goes on one request at a time), the
// seconds left and kPacingSecondsLeftAfter; then that the wait is over.
inline constexpr const char* kPacingRetryAfter = "温馨提醒：【网站要求稍候，全部请求暂停，";
inline constexpr const char* kPacingRefusals =
    "温馨提醒：【网站连续拒绝访问，改为逐个请求，全部请求暂停，";
inline constexpr const char* kPacingVerification =
    "温馨提醒：【网站连续返回验证页面，改为逐个请求，全部请求暂停，";
inline constexpr const char* kPacingSecondsLeftAfter = " 秒后继续】";
inline constexpr const char* kPacingGoesOn = "温馨提醒：【暂停结束，继续搜索】";
inline constexpr const char* kPacingGoesOnSerial = "温馨提醒：【暂停结束，继续逐个请求】";
// Why a company page counts as not fetched when a short page without a contact block stood in
// its place.
inline constexpr const char* kVerificationPage = "疑似验证页面";

inline constexpr const char* kNoHitsBefore = "没有搜索到关于 ";
inline constexpr const char* kNoHitsAfter = " 的结果！！";
inline constexpr const char* kSearchFinished = "搜索完毕！";

// A site that cannot be reached at all: the status, and the message, which names the address
// tried and, in brackets, why (HttpErrorText).
inline constexpr const char* kStatusUnreachable = "状态：连接失败";
inline constexpr const char* kUnreachableBefore = "无法连接到目录网站：";
inline constexpr const char* kReasonBefore = "（";
inline constexpr const char* kReasonAfter = "）";

// A settings file whose site is not used: kSettingsBefore, the file's path, what is wrong
// (kSettingsSiteInvalid and the line's value, or kSettingsUnreadable), kSettingsFallback and the
// built-in address.
inline constexpr const char* kSettingsBefore = "设置文件 ";
inline constexpr const char* kSettingsSiteInvalid = " 中的目录网站地址无效：";
inline constexpr const char* kSettingsUnreadable = " 无法读取";
inline constexpr const char* kSettingsFallback = "；已改用内置地址 ";
// A parallel value not used: from the settings file (kSettingsBefore, the path,
// kSettingsParallelInvalid) or from velmora-cli (kParallelOptionBefore), then the value and
// kParallelFallback. Two problems at once are joined by kSettingsJoin.
inline constexpr const char* kSettingsParallelInvalid = " 中的并行数无效：";
inline constexpr const char* kParallelOptionBefore = "--parallel 的值无效：";
inline constexpr const char* kParallelFallback = "（应为 1 到 8 的整数）；已改用顺序搜索";
inline constexpr const char* kSettingsJoin = "；";

// The journal's status field: a search whose rows cannot be kept, and the rows put back into
// the list after the window's last search was cut short (before and after their count).
inline constexpr const char* kRowsNotKept = "注意：搜索记录不可用，结果未保存";
inline constexpr const char* kRowsRestoredBefore = "已恢复上次中断的结果：";

}  // namespace velmora::search_text
