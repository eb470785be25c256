#!/usr/bin/python3
"""A plain serial crawler of the directory site, the yardstick for velmora-cli's speed.

One keep-alive connection, the same requests in the same order (the search URL twice, the
result pages, the company pages in batches after every even page, the last page, or every page
of a three-page search), the same link and contact-block patterns, one row per company page.
Prints the rows as velmora-cli does, seven tab-separated fields per line.

Usage: reference_crawler.py BASE_URL KEYWORD
"""

import http.client
import re
import sys
import urllib.parse

SEARCH = "/search/index.php?_d=company&_a=company_s_search&f=search&terms="
LINK = re.compile(r'sup-name"><a href="(.*?)"', re.IGNORECASE)
COMPANY = re.compile(
    r'<div class="mp4"><b>(.*?)</b><br><br><span class="mtext">(.*?)</span><br><br></div>'
    r'[\s]*?<div class="mp5">[\s]*?'
    r'<ul><li class="mp6">电话：</li><li class="mp7">(.*?)</li></ul>[\s]*?'
    r'<ul><li class="mp6">手机：</li><li class="mp7">(.*?)</li></ul>[\s]*?'
    r'<ul><li class="mp6">传真：</li><li class="mp7">(.*?)</li></ul>[\s]*?'
    r'<ul><li class="mp6">邮件：</li><li class="mp7">[\s|\S]*?(.*?)</li></ul>[\s]*?'
    r'<ul><li class="mp6">地址：</li><li class="mp7">(.*?)</li></ul>',
    re.IGNORECASE)


def between(text, start, end):
    at = text.find(start)
    if at < 0:
        return ""
    at += len(start)
    stop = text.find(end, at)
    return text[at:stop] if stop >= 0 else ""


def escape(field):
    return (field.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def main():
    base, keyword = sys.argv[1], sys.argv[2]
    site = urllib.parse.urlsplit(base)
    connection = http.client.HTTPConnection(site.hostname, site.port)

    def fetch(target):
        connection.request("GET", target, headers={"Connection": "Keep-Alive"})
        return connection.getresponse().read().decode("utf-8", "replace")

    search = SEARCH + urllib.parse.quote(keyword, safe="-.")
    page_count = int(between(fetch(search), "页次: 1/", "&nbsp;&nbsp;") or 0)
    total = between(fetch(search), "总数: ", "&nbsp;&nbsp;")
    if not total:
        return
    out = []
    links = []
    for page in range(1, page_count + 1):
        links += [link for link in LINK.findall(fetch(search + "&p=%d" % page))
                  if link.replace(" ", "").replace("\u3000", "")]
        if page % 2 == 0 or page == page_count or page_count == 3:
            for link in links:
                target = urllib.parse.urlsplit(link)
                found = COMPANY.search(fetch(target.path + ("?" + target.query if target.query else "")))
                cells = list(found.groups()) if found else [""] * 7
                if "href" in cells[5]:
                    cells[5] = between(cells[5], "target=_blank>", "</a>")
                out.append("\t".join(escape(cell) for cell in cells))
            links = []
    sys.stdout.write("".join(line + "\n" for line in out))


if __name__ == "__main__":
    main()
