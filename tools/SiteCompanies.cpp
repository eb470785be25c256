// The companies of a search, drawn from its keyword's seed: names, contacts, telephone
// numbers, e-mail addresses and their markup, cities and addresses.

#include "tools/SiteCompanies.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

constexpr std::array<City, 28> kCities{{
    {"杭州", "浙江省", "0571", {"余杭区", "萧山区", "西湖区"}},
    {"宁波", "浙江省", "0574", {"鄞州区", "北仑区", "镇海区"}},
    {"温州", "浙江省", "0577", {"鹿城区", "龙湾区", "瓯海区"}},
    {"苏州", "江苏省", "0512", {"工业园区", "吴中区", "相城区"}},
    {"无锡", "江苏省", "0510", {"滨湖区", "新吴区", "惠山区"}},
    {"常州", "江苏省", "0519", {"武进区", "新北区", "天宁区"}},
    {"南京", "江苏省", "025", {"江宁区", "鼓楼区", "浦口区"}},
    {"广州", "广东省", "020", {"天河区", "白云区", "番禺区"}},
    {"深圳", "广东省", "0755", {"宝安区", "龙岗区", "南山区"}},
    {"东莞", "广东省", "0769", {"长安镇", "虎门镇", "塘厦镇"}},
    {"佛山", "广东省", "0757", {"顺德区", "南海区", "禅城区"}},
    {"青岛", "山东省", "0532", {"黄岛区", "城阳区", "即墨区"}},
    {"济南", "山东省", "0531", {"历下区", "槐荫区", "章丘区"}},
    {"郑州", "河南省", "0371", {"金水区", "二七区", "管城回族区"}},
    {"武汉", "湖北省", "027", {"东西湖区", "江汉区", "洪山区"}},
    {"成都", "四川省", "028", {"武侯区", "双流区", "郫都区"}},
    {"合肥", "安徽省", "0551", {"蜀山区", "包河区", "庐阳区"}},
    {"厦门", "福建省", "0592", {"湖里区", "思明区", "集美区"}},
    {"泉州", "福建省", "0595", {"丰泽区", "晋江市", "石狮市"}},
    {"长沙", "湖南省", "0731", {"岳麓区", "雨花区", "开福区"}},
    {"石家庄", "河北省", "0311", {"长安区", "裕华区", "桥西区"}},
    {"沈阳", "辽宁省", "024", {"铁西区", "浑南区", "和平区"}},
    {"大连", "辽宁省", "0411", {"甘井子区", "金州区", "沙河口区"}},
    {"西安", "陕西省", "029", {"雁塔区", "未央区", "长安区"}},
    {"上海", "", "021", {"浦东新区", "闵行区", "嘉定区"}},
    {"北京", "", "010", {"朝阳区", "海淀区", "丰台区"}},
    {"天津", "", "022", {"滨海新区", "西青区", "北辰区"}},
    {"重庆", "", "023", {"渝北区", "九龙坡区", "江北区"}},
}};

// 𠮷 lies outside the two-byte range of the system code page and checks that it stays whole.
constexpr std::array<std::string_view, 30> kTradeNames{
    "宏达", "恒信", "华盛", "金鼎", "鑫源", "永盛", "德丰", "瑞祥",   "隆泰", "嘉诚",
    "中联", "汇通", "天成", "博远", "兴业", "富康", "盛世", "万丰",   "东方", "新锐",
    "喆安", "堃宇", "𠮷利", "昊天", "晟达", "森茂", "旭日", "正泰华", "锦程", "力拓"};
constexpr std::array<std::string_view, 8> kLegalForms{
    "有限公司",     "有限责任公司", "股份有限公司", "科技有限公司",
    "实业有限公司", "制造有限公司", "厂",           "贸易商行"};
constexpr std::array<std::string_view, 20> kSurnames{"王", "李", "张", "刘", "陈", "杨", "黄",
                                                     "赵", "吴", "周", "徐", "孙", "马", "朱",
                                                     "胡", "郭", "何", "林", "高", "罗"};
constexpr std::array<std::string_view, 20> kGivenNames{"伟", "芳", "娜", "秀英", "敏", "静",  "丽",
                                                       "强", "磊", "军", "洋",   "勇", "艳",  "杰",
                                                       "娟", "涛", "明", "超",   "霞", "建平"};
constexpr std::array<std::string_view, 5> kTitles{"先生", "女士", "经理", "总", "厂长"};
constexpr std::array<std::string_view, 4> kDepartments{"销售部", "外贸部", "市场部", "总经办"};
constexpr std::array<std::string_view, 20> kMobilePrefixes{
    "130", "131", "133", "135", "136", "137", "138", "139", "150", "151",
    "152", "155", "158", "159", "177", "180", "186", "188", "189", "199"};
// Many start with a letter of b, l, a, n, k or z, in either case: an extractor must keep it.
constexpr std::array<std::string_view, 25> kMailboxes{
    "anna.li",  "Bella",  "kevin.zhang", "lily",    "nancy",    "zhao.min", "Amy_wu",
    "bob.chen", "Kate",   "LEO",         "nick",    "Zoe",      "sales",    "info",
    "hr",       "export", "service",     "wanglei", "chen.jie", "tracy",    "mike",
    "hd-trade", "jason",  "office",      "Nina.Xu"};
constexpr std::array<std::string_view, 8> kMailDomains{"163.com",     "126.com",      "sina.com",
                                                       "hotmail.com", "yahoo.com.cn", "139.com",
                                                       "aliyun.com",  "sohu.com"};
constexpr std::array<std::string_view, 10> kRoads{"人民路",   "解放路",   "建设路",   "中山路",
                                                  "工业园路", "科技大道", "滨江大道", "创业路",
                                                  "环城北路", "长江东路"};
constexpr std::array<std::string_view, 5> kAddressUnits{"", "", "B座1203室", "3号楼2楼",
                                                        "(工业区内)"};

std::string CompanyName(Dice& dice, const City& city) {
    std::string name(city.name);
    if (dice.OneIn(4)) name += "市";
    name += dice.Pick(kTradeNames);
    name += dice.Pick(kIndustries);
    name += dice.Pick(kLegalForms);
    return name;
}

std::string ContactName(Dice& dice) {
    std::string name(dice.Pick(kSurnames));
    if (dice.OneIn(2)) {
        name += dice.Pick(kTitles);
    } else {
        name += dice.Pick(kGivenNames);
        if (dice.OneIn(5)) name += " (" + std::string(dice.Pick(kDepartments)) + ")";
    }
    return name;
}

// Area code with its leading zero, then a local number of 8 digits, or 7 behind a four-digit
// code now and then; some carry an extension.
std::string LandLine(Dice& dice, const City& city) {
    int localDigits = (city.areaCode.size() == 4 && dice.OneIn(3)) ? 7 : 8;
    std::string number(city.areaCode);
    number += '-';
    number += dice.Digits(localDigits, static_cast<char>('2' + dice.Below(7)));
    if (dice.OneIn(6)) number += "-8" + dice.Digits(2);
    return number;
}

std::string Mobile(Dice& dice) {
    static constexpr std::array<std::string_view, 3> kForms{"+86 ", "+86-", ""};
    std::string number(dice.Pick(kForms));
    number += dice.Pick(kMobilePrefixes);
    number += dice.Digits(8);
    return number;
}

std::string Email(Dice& dice) {
    if (dice.OneIn(10)) return {};
    if (dice.OneIn(5))
        return dice.Digits(dice.Below(5) + 6, static_cast<char>('1' + dice.Below(9))) + "@qq.com";
    std::string address(dice.Pick(kMailboxes));
    if (dice.OneIn(3)) address += dice.Digits(dice.Below(3) + 2);
    address += '@';
    address += dice.Pick(kMailDomains);
    return address;
}

std::string Address(Dice& dice, const City& city) {
    std::string address(city.province);
    address += city.name;
    address += "市";
    address += dice.Pick(city.districts);
    address += dice.Pick(kRoads);
    address += std::to_string(dice.Below(2000) + 1);
    address += "号";
    address += dice.Pick(kAddressUnits);
    return address;
}

}  // namespace

std::uint64_t CompanyState(std::uint64_t seed, int number) {
    return seed ^ (static_cast<std::uint64_t>(number) * 0xD1B54A32D192ED03ULL);
}

const City& CityOf(std::uint64_t seed, int number) {
    Dice dice(CompanyState(seed, number) ^ 0x5851F42D4C957F2DULL);
    return dice.Pick(kCities);
}

std::string_view IndustryOf(const std::string& companyName) {
    for (std::string_view industry : kIndustries) {
        if (companyName.find(industry) != std::string::npos) return industry;
    }
    return kIndustries[0];
}

std::uint64_t KeywordSeed(std::string_view keyword) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a
    for (char c : keyword) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

CompanyRecord GenerateCompany(std::uint64_t seed, int number) {
    const City& city = CityOf(seed, number);
    Dice dice(CompanyState(seed, number));
    CompanyRecord company;
    company.companyName = CompanyName(dice, city);
    company.contact = ContactName(dice);
    company.telephone = LandLine(dice, city);
    company.mobile = Mobile(dice);
    company.fax = dice.OneIn(5) ? std::string() : LandLine(dice, city);
    company.email = Email(dice);
    company.address = Address(dice, city);
    return company;
}

CompanyRecord WithControlBytes(CompanyRecord company) {
    using namespace std::string_literals;
    company.companyName += "\x1b[31m";
    company.contact = "\x07" + company.contact + "\x08";
    company.telephone += "\x00\x0c"s;
    company.mobile += "\x7f";
    company.fax =
        "\xc2\x9b"
        "2J" +
        company.fax;              // U+009B, the one-character CSI
    company.email += "\xc2\x85";  // U+0085, next line
    company.address += kTerminalEscapes;
    return company;
}

EmailMarkup EmailMarkupOf(std::uint64_t seed, int number) {
    Dice dice(CompanyState(seed, number) ^ 0x2545F4914F6CDD1DULL);
    int roll = dice.Below(20);
    return roll < 12   ? EmailMarkup::Plain
           : roll < 17 ? EmailMarkup::Link
                       : EmailMarkup::AfterLineBreak;
}

}  // namespace velmora::site
