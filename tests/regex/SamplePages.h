#pragma once
// Pages in the directory site's markup (UTF-8, CR LF lines) as test and benchmark data for the
// program's two patterns (CompanyDetailPattern, CompanyLinkPattern). Convert with Utf8ToSystem
// before use.

#include <string>
#include <vector>

namespace velmora::sample {

struct Company {
    std::string name = "北京某某科技有限公司";
    std::string contact = "王先生";
    std::string telephone = "010-82345678";
    std::string mobile = "13800138000";
    std::string fax = "010-82345679";
    std::string email = "sales@example.cn";
    std::string address = "北京市海淀区中关村大街1号";
};

inline std::string ContactRow(const std::string& label, const std::string& value) {
    return "<ul><li class=\"mp6\">" + label + "：</li><li class=\"mp7\">" + value +
           "</li></ul>\r\n";
}

// The contact block as company pages carry it; without the address row it is a near miss.
inline std::string CompanyBlock(const Company& c, bool withAddressRow = true) {
    std::string block = "<div class=\"mp4\"><b>" + c.name + "</b><br><br><span class=\"mtext\">" +
                        c.contact + "</span><br><br></div>\r\n<div class=\"mp5\">\r\n" +
                        ContactRow("电话", c.telephone) + ContactRow("手机", c.mobile) +
                        ContactRow("传真", c.fax) + ContactRow("邮件", c.email);
    if (withAddressRow) block += ContactRow("地址", c.address);
    return block + "</div>\r\n";
}

// Page chrome that mentions the labels the pattern looks for, without the block's markup.
inline std::string Filler(size_t bytes) {
    std::string filler;
    for (int line = 0; filler.size() < bytes; ++line) {
        filler += "<li class=\"nav\"><a href=\"/company/" + std::to_string(line) +
                  ".html\">公司名称 联系人 电话 手机 传真 邮件 地址 第" + std::to_string(line) +
                  "条</a></li>\r\n";
    }
    return filler;
}

inline std::string CompanyPage(const Company& c, size_t bytes = 30 * 1024) {
    std::string head =
        "<html>\r\n<head><title>" + c.name + " 公司名称</title></head>\r\n<body>\r\n";
    std::string block = CompanyBlock(c);
    size_t rest = bytes > head.size() + block.size() ? bytes - head.size() - block.size() : 0;
    // The block sits near the end, as on the site, so the search walks most of the page.
    return head + Filler(rest * 3 / 4) + block + Filler(rest / 4) + "</body>\r\n</html>\r\n";
}

// Many block openers and no address row anywhere: every opener starts a long failed search.
inline std::string HostileCompanyPage(int openers, size_t bytes) {
    std::string page;
    std::string block = CompanyBlock(Company{}, false);
    size_t gap = bytes / static_cast<size_t>(openers);
    std::string padding = gap > block.size() ? Filler(gap - block.size()) : std::string();
    for (int i = 0; i < openers; ++i) page += block + padding;
    return page;
}

inline std::string ResultEntry(const std::string& link) {
    return "<div class=\"sup-list\">\r\n<div class=\"sup-name\"><a href=\"" + link +
           "\" target=\"_blank\">某某公司</a></div>\r\n<div class=\"sup-info\">主营：机械 电话："
           "010-1234567</div>\r\n</div>\r\n";
}

inline std::string ResultPage(const std::vector<std::string>& links, size_t bytes) {
    std::string entries;
    for (const auto& link : links)
        entries += ResultEntry(link) + Filler(bytes / (links.size() + 2));
    std::string page = "<html>\r\n<body>\r\n" + Filler(bytes / (links.size() + 2)) + entries;
    return page + "页次: 1/5&nbsp;&nbsp;总数: 120&nbsp;&nbsp;\r\n</body>\r\n</html>\r\n";
}

}  // namespace velmora::sample
