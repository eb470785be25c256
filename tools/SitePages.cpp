// The pages of the site rendered: the chrome around them, result pages with their pager,
// company pages with their contact blocks, the short error and verification pages, and the
// length bound in the system code page that keeps the chrome long enough.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "tools/SiteCompanies.h"
#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

// Room kept between kMarkerSearchStart and the pager, so a change of the chrome cannot slide a
// marker in front of the search start.
constexpr std::size_t kMarkerMargin = 512;
constexpr std::string_view kCrlf = "\r\n";

constexpr std::array<std::string_view, 12> kProductKinds{"系列",   "配件",   "成套设备", "加工件",
                                                         "标准件", "定制件", "生产线",   "原材料",
                                                         "半成品", "总成",   "组件",     "耗材"};
constexpr std::array<std::string_view, 24> kCategories{
    "机械设备", "五金工具", "电子元器件", "化工原料", "纺织皮革", "建筑建材",
    "包装印刷", "食品饮料", "农业林业",   "汽摩配件", "家居用品", "办公文教",
    "照明工业", "电工电气", "仪器仪表",   "安全防护", "环保设备", "冶金矿产",
    "橡塑材料", "医药保养", "服装服饰",   "数码家电", "礼品工艺", "运输物流"};

// Valid UTF-8 with <, >, &, " and ' escaped: the keyword comes from the request and is echoed.
std::string EscapeHtml(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80    ? 1
                             : byte >= 0xF0 ? 4
                             : byte >= 0xE0 ? 3
                             : byte >= 0xC2 ? 2
                                            : 0;
        bool whole = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!whole || byte > 0xF4) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (byte) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (byte < 0x20) {
                    out += ' ';
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
    return out;
}

// Collects CR LF terminated lines.
class Page {
public:
    Page& operator<<(std::string_view line) {
        text_.append(line);
        text_.append(kCrlf);
        return *this;
    }
    std::string& Text() { return text_; }

private:
    std::string text_;
};

void AddHead(Page& page, std::string_view title, std::string_view keywords) {
    page << "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
            "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
         << "<html xmlns=\"http://www.w3.org/1999/xhtml\">"
         << "<head>"
         << "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
         << "<title>" + std::string(title) + "</title>"
         << "<meta name=\"keywords\" content=\"" + std::string(keywords) + "\" />"
         << "<meta name=\"description\" content=\"商务黄页网为您提供全国各地企业名录、公司黄页、"
            "联系方式和产品信息，帮助采购商快速找到优质供应商。\" />"
         << "<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/common.css?v=20121108\" "
            "/>"
         << "<style type=\"text/css\">";
    static constexpr std::array<std::string_view, 16> kRules{
        "body{margin:0;padding:0;font:12px/1.6 Tahoma,Arial,\"宋体\";color:#333;background:#fff}",
        "a{color:#0645ad;text-decoration:none}a:hover{color:#c00;text-decoration:underline}",
        "ul,li{margin:0;padding:0;list-style:none}img{border:0}",
        ".top{height:28px;line-height:28px;background:#f5f5f5;border-bottom:1px solid #e5e5e5}",
        ".header{width:980px;margin:0 auto;height:90px;overflow:hidden}",
        ".logo{float:left;width:220px;height:60px;margin-top:15px}",
        ".search{float:left;margin:25px 0 0 30px}.search input.txt{width:380px;height:26px}",
        ".nav{height:34px;background:#1f5fa8;line-height:34px}.nav a{color:#fff;padding:0 14px}",
        ".crumbs{width:980px;margin:8px auto;color:#666}",
        ".side{float:left;width:220px}.side h3{background:#eef3fa;padding:4px 8px}",
        ".main{float:right;width:745px}.item{border-bottom:1px dashed #ddd;padding:10px 0}",
        ".sup-name{font-size:14px;font-weight:bold}.sup-info{color:#666}",
        ".pages{text-align:center;padding:16px 0}.pages a{border:1px solid #ccc;padding:2px 6px}",
        ".footer{clear:both;border-top:2px solid #1f5fa8;text-align:center;padding:12px}",
        ".mp4{padding:10px}.mp5 ul{overflow:hidden}.mp6{float:left;width:60px;color:#999}",
        ".mp7{float:left;width:600px}.products li{float:left;width:160px;margin:6px}"};
    for (std::string_view rule : kRules) page << rule;
    page << "</style>"
         << "<script type=\"text/javascript\" src=\"/static/js/jquery-1.7.2.min.js\"></script>"
         << "<script type=\"text/javascript\">"
         << "var _site = {root: '/', search: '/search/index.php', version: '20121108'};"
         << "function checkSearch(f){if(f.terms.value==''){alert('请输入关键词');return false;}"
            "return true;}"
         << "</script>"
         << "</head>";
}

void AddTopAndNav(Page& page, std::string_view keywordHtml) {
    page << "<body>"
         << "<div class=\"top\"><div class=\"w980\">您好，欢迎来到商务黄页网！"
            "<a href=\"/member/login.php\">请登录</a> <a href=\"/member/register.php\">免费注册</a>"
            " | <a href=\"/help/\">帮助中心</a> | <a href=\"/about/contact.html\">联系我们</a>"
            "</div></div>"
         << "<div class=\"header\">"
         << "<div class=\"logo\"><a href=\"/\"><img src=\"/static/img/logo.gif\" "
            "alt=\"商务黄页网\" /></a></div>"
         << "<div class=\"search\"><form action=\"/search/index.php\" method=\"get\" "
            "onsubmit=\"return checkSearch(this)\">"
         << "<input type=\"hidden\" name=\"_d\" value=\"company\" />"
         << "<input type=\"hidden\" name=\"_a\" value=\"company_s_search\" />"
         << "<input type=\"hidden\" name=\"f\" value=\"search\" />"
         << "<input class=\"txt\" type=\"text\" name=\"terms\" value=\"" +
                std::string(keywordHtml) + "\" />"
         << "<input class=\"btn\" type=\"submit\" value=\"搜 索\" />"
         << "</form></div>"
         << "</div>"
         << "<div class=\"nav\"><a href=\"/\">首页</a><a href=\"/company/\">企业名录</a>"
            "<a href=\"/product/\">产品库</a><a href=\"/buy/\">求购信息</a>"
            "<a href=\"/news/\">行业资讯</a><a href=\"/exhibit/\">展会信息</a>"
            "<a href=\"/job/\">人才招聘</a></div>";
}

void AddCategorySide(Page& page, Dice& dice) {
    page << "<div class=\"side\">"
         << "<h3>行业分类</h3>"
         << "<ul>";
    for (std::string_view category : kCategories) {
        page << "<li><a href=\"/company/list.php?catid=" + std::to_string(dice.Below(900) + 100) +
                    "\">" + std::string(category) + "</a><span>(" +
                    std::to_string(dice.Below(90000) + 1000) + ")</span></li>";
    }
    page << "</ul>"
         << "</div>";
}

// Hot searches, repeated until the page has `length` bytes of chrome in the system code page.
void PadChrome(Page& page, Dice& dice, std::size_t length) {
    page << "<div class=\"hot\"><h3>热门搜索</h3><ul>";
    std::size_t written = SystemLengthLowerBound(page.Text());
    while (written < length) {
        std::string word(dice.Pick(kIndustries));
        word += dice.Pick(kProductKinds);
        std::string line = "<li><a href=\"" + SearchTarget(word) + "\" title=\"" + word + "\">" +
                           word + "</a></li>";
        written += SystemLengthLowerBound(line) + kCrlf.size();
        page << line;
    }
    page << "</ul></div>";
}

void AddFooter(Page& page) {
    page
        << "<div class=\"footer\">"
        << "<a href=\"/about/\">关于我们</a> | <a href=\"/about/service.html\">服务条款</a> | "
           "<a href=\"/about/ads.html\">广告服务</a> | <a href=\"/about/contact.html\">联系方式</a>"
        << "<p>Copyright &copy; 2005-2012 商务黄页网 All Rights Reserved</p>"
        << "<p>本站信息均由企业自行发布，交易时请注意核实对方资质。</p>"
        << "</div>"
        << "</body>"
        << "</html>";
}

void AddResultItem(Page& page, const ResultPageParams& params, std::uint64_t seed, int number) {
    if (params.markup == Markup::ManyLinks) {
        page << "<div class=\"sup-name\"><a href=\"" + std::string(params.baseUrl) +
                    CompanyTarget(seed, number) + "\">" + std::to_string(number) + "</a></div>";
        return;
    }
    CompanyRecord company = GenerateCompany(seed, number);
    const City& city = CityOf(seed, number);
    std::string url = std::string(params.baseUrl) + CompanyTarget(seed, number);
    std::string nameClass = params.markup == Markup::Changed ? "company-title" : "sup-name";
    page << "<div class=\"item\">"
         << "<div class=\"" + nameClass + "\"><a href=\"" + url + "\" target=\"_blank\" title=\"" +
                company.companyName + "\">" + company.companyName + "</a></div>"
         << "<div class=\"sup-info\">主营：" + std::string(IndustryOf(company.companyName)) +
                "产品、" + std::string(IndustryOf(company.companyName)) +
                "配件&nbsp;&nbsp;所在地：" + std::string(city.province) + std::string(city.name) +
                "</div>"
         << "<div class=\"sup-contact\">联系人：" + company.contact + "&nbsp;&nbsp;电话：" +
                company.telephone + "</div>"
         << "</div>";
}

void AddPager(Page& page, const ResultPageParams& params, long long total) {
    std::string pageNumbers =
        std::to_string(params.page) + "/" +
        (params.markup == Markup::EndlessCount    ? std::string(kEndlessPageCount)
         : params.markup == Markup::NegativeCount ? "-" + std::to_string(params.pages)
                                                  : std::to_string(params.pages));
    if (params.markup == Markup::Changed) {
        page << "<div class=\"pages\">共 " + std::to_string(total) + " 条 第 " + pageNumbers +
                    " 页</div>";
        return;
    }
    std::string totalText = std::to_string(total);
    if (params.markup == Markup::ControlBytes) {
        totalText = "<b>" + totalText + "</b>" + std::string(kTerminalEscapes);
    }
    std::string line = "<div class=\"pages\">总数: " + totalText + "&nbsp;&nbsp;";
    if (params.markup != Markup::WithoutPageCount) line += "页次: " + pageNumbers + "&nbsp;&nbsp;";
    line += "每页: " + std::to_string(params.linksPerPage) + "&nbsp;&nbsp;";
    std::string base = SearchTarget(params.keyword);
    auto link = [&](int target, std::string_view label) {
        return "<a href=\"" + base + std::string(kPageParameter) + std::to_string(target) + "\">" +
               std::string(label) + "</a> ";
    };
    line += link(1, "首页");
    if (params.page > 1) line += link(params.page - 1, "上一页");
    if (params.page < params.pages) line += link(params.page + 1, "下一页");
    line += link(params.pages, "尾页");
    page << line + "</div>";
}

// The rows of a contact block that a page may leave out.
enum class ContactRows { All, WithoutFax, WithoutAddress };

void AddContactBlock(Page& page, const CompanyRecord& company, EmailMarkup emailMarkup,
                     ContactRows rows = ContactRows::All) {
    page << "<div class=\"mp4\"><b>" + company.companyName + "</b><br><br><span class=\"mtext\">" +
                company.contact + "</span><br><br></div>"
         << "<div class=\"mp5\">";
    auto row = [&](std::string_view label, const std::string& value) {
        page << "\t<ul><li class=\"mp6\">" + std::string(label) + "：</li><li class=\"mp7\">" +
                    value + "</li></ul>";
    };
    row("电话", company.telephone);
    row("手机", company.mobile);
    if (rows != ContactRows::WithoutFax) row("传真", company.fax);
    switch (company.email.empty() ? EmailMarkup::Plain : emailMarkup) {
        case EmailMarkup::Plain:
            row("邮件", company.email);
            break;
        case EmailMarkup::Link:
            row("邮件",
                "<a href=\"mailto:" + company.email + "\" target=_blank>" + company.email + "</a>");
            break;
        case EmailMarkup::AfterLineBreak:
            row("邮件", std::string(kCrlf) + company.email);
            break;
    }
    if (rows != ContactRows::WithoutAddress) row("地址", company.address);
    page << "</div>";
}

// Contact blocks without their address row, kOverworkBlocks of them over kOverworkBytes: from
// each, the contact pattern's e-mail part runs across the rest of the page looking for the
// address row, which spends any sound work bound long before the page's end.
void AddOverworkBlocks(Page& page, const CompanyRecord& company) {
    constexpr int kOverworkBlocks = 2000;
    constexpr std::size_t kOverworkBytes = std::size_t{1} << 20;
    const std::size_t end = page.Text().size() + kOverworkBytes;
    for (int block = 0; block < kOverworkBlocks; ++block) {
        AddContactBlock(page, company, EmailMarkup::Plain, ContactRows::WithoutAddress);
        const std::size_t gap = (end - std::min(end, page.Text().size())) /
                                static_cast<std::size_t>(kOverworkBlocks - block);
        page << "<div class=\"blank\">" + std::string(gap, '-') + "</div>" + std::string(kCrlf);
    }
}

}  // namespace

std::string RenderResultPage(const ResultPageParams& params) {
    std::uint64_t seed = KeywordSeed(params.keyword);
    Dice dice(seed ^ static_cast<std::uint64_t>(params.page));
    std::string keywordHtml = EscapeHtml(params.keyword);
    Page page;
    AddHead(page, keywordHtml + "_公司黄页_企业名录 - 商务黄页网",
            keywordHtml + "," + keywordHtml + "公司," + keywordHtml + "厂家");
    AddTopAndNav(page, keywordHtml);
    page << "<div class=\"crumbs\">当前位置：<a href=\"/\">首页</a> &gt; <a href=\"/company/\">"
            "企业名录</a> &gt; 搜索“" +
                keywordHtml + "”</div>";
    bool hits = params.pages > 0;
    long long total = static_cast<long long>(params.pages) * params.linksPerPage;
    if (params.markup == Markup::Short) {
        if (hits) AddPager(page, params, total);
    } else {
        AddCategorySide(page, dice);
        PadChrome(page, dice, kMarkerSearchStart + kMarkerMargin);
    }
    page << "<div class=\"main\">";
    if (!hits) {
        page << "<div class=\"noresult\">抱歉，没有找到与“" + keywordHtml +
                    "”相关的企业，请更换关键词再试。</div>";
    } else {
        page << "<div class=\"list\">";
        if (params.page >= 1 && params.page <= params.pages) {
            // Numbers past the last company a site can serve are left out.
            const long long first = static_cast<long long>(params.page - 1) * params.linksPerPage;
            const long long last =
                std::min<long long>(first + params.linksPerPage, kMaxCompanyNumber);
            for (long long number = first + 1; number <= last; ++number) {
                AddResultItem(page, params, seed, static_cast<int>(number));
            }
        }
        page << "</div>";
        if (params.markup != Markup::Short) AddPager(page, params, total);
    }
    page << "</div>";
    AddFooter(page);
    return std::move(page.Text());
}

std::string RenderCompanyPage(const CompanyPageParams& params) {
    CompanyRecord company = GenerateCompany(params.seed, params.number);
    if (params.markup == Markup::ControlBytes) company = WithControlBytes(std::move(company));
    const City& city = CityOf(params.seed, params.number);
    std::string industry(IndustryOf(company.companyName));
    Dice dice(CompanyState(params.seed, params.number) ^ 0x7F4A7C159E3779B9ULL);
    Page page;
    AddHead(page, company.companyName + " - 联系方式 - 商务黄页网",
            company.companyName + "," + industry);
    AddTopAndNav(page, "");
    page << "<div class=\"crumbs\">当前位置：<a href=\"/\">首页</a> &gt; <a href=\"/company/\">"
            "企业名录</a> &gt; " +
                company.companyName + "</div>"
         << "<div class=\"intro\"><h3>公司简介</h3>"
         << "<p>" + company.companyName + "位于" + std::string(city.name) + "，是一家专业从事" +
                industry +
                "研发、生产和销售的企业。公司拥有先进的生产设备和完善的质量管理体系，"
                "产品远销海内外，欢迎新老客户来电咨询、洽谈合作。</p>"
         << "</div>"
         << "<div class=\"contact\">"
         << "<div class=\"mp3\">联系方式</div>";
    if (params.markup == Markup::Overwork) AddOverworkBlocks(page, company);
    AddContactBlock(page, company, EmailMarkupOf(params.seed, params.number),
                    params.markup == Markup::Changed ? ContactRows::WithoutFax : ContactRows::All);
    if (params.markup == Markup::TwoBlocks) {
        AddContactBlock(page, GenerateCompany(params.seed, params.number + 1),
                        EmailMarkupOf(params.seed, params.number + 1));
    }
    page << "</div>";

    Page footer;
    AddFooter(footer);
    page << "<div class=\"products\"><h3>产品展示</h3><ul>";
    for (int k = 1; page.Text().size() + footer.Text().size() + 16 < params.minimumBytes; ++k) {
        std::string product = industry + std::string(dice.Pick(kProductKinds)) + " " +
                              std::string(1, static_cast<char>('A' + dice.Below(26))) + "-" +
                              dice.Digits(4);
        page << "<li><a href=\"" + CompanyTarget(params.seed, params.number) +
                    "?product=" + std::to_string(k) + "\"><img src=\"/upload/product/" +
                    dice.Digits(8) + ".jpg\" alt=\"" + product + "\" /></a><p>" + product +
                    "</p><span>价格面议</span></li>";
    }
    page << "</ul></div>";
    page.Text() += footer.Text();
    return std::move(page.Text());
}

std::string RenderNotFoundPage() {
    Page page;
    page << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
            "<title>404 页面不存在</title></head>"
         << "<body><h1>404 Not Found</h1><p>您访问的页面不存在或已被删除。</p></body></html>";
    return std::move(page.Text());
}

std::string RenderServerErrorPage(int status, std::string_view reason) {
    const std::string code = std::to_string(status);
    Page page;
    page << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
            "<title>" +
                code + " 服务器错误</title></head>"
         << "<body><h1>" + code + " " + std::string(reason) +
                "</h1><p>服务器繁忙，请稍后再试。</p></body></html>";
    return std::move(page.Text());
}

std::string RenderVerificationPage() {
    Page page;
    page << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
            "<title>安全验证</title></head>"
         << "<body><h1>请完成安全验证</h1><p>您的访问过于频繁，请拖动滑块完成验证后继续访问。</p>"
            "<div id=\"captcha\"></div></body></html>";
    return std::move(page.Text());
}

std::size_t SystemLengthLowerBound(std::string_view utf8) {
    std::size_t length = 0;
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            length += 1;
        } else if ((byte & 0xC0) != 0x80) {
            length += 2;
        }
    }
    return length;
}

}  // namespace velmora::site
