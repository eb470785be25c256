#!/usr/bin/python3
"""The directory site crawled by Scrapy, a peer for velmora-cli --parallel N in the benchmark.

Asks the company search for KEYWORD once, reads the page count from that first result page,
asks for result pages 1 to the count, follows every company link listed and writes one CSV row
of the seven contact fields per company page, as the page gives them (no entity decoded, no
blank trimmed), in the order the answers come. Scrapy 2.8 (Debian's python3-scrapy) with up to
N requests in flight to the site (CONCURRENT_REQUESTS_PER_DOMAIN), robots.txt obeyed; with
--autothrottle its AutoThrottle paces them, aiming at N in flight, from its own defaults
otherwise.

Usage: scrapy_spider.py BASE_URL KEYWORD OUT_CSV --concurrency N [--autothrottle]
       scrapy_spider.py --help  (loads Scrapy and exits: the bare start-up)
"""

import argparse
import re
import urllib.parse

import scrapy
from scrapy.crawler import CrawlerProcess

from reference_crawler import between

SEARCH_PATH = "/search/index.php?_d=company&_a=company_s_search&f=search&terms="
FIELDS = ["company", "contact", "telephone", "mobile", "fax", "email", "address"]

# The pager reads "页次: 1/12&nbsp;&nbsp;", past the page's first 10,000 bytes.
PAGE_COUNT = re.compile(r"页次: 1/(\d+)&nbsp;&nbsp;")
COMPANY_LINK = re.compile(r'sup-name"><a href="(.*?)"', re.IGNORECASE)
# The contact block: the name in bold and the contact person, then one row per label, each
# value up to the end of its cell and never across a line (an e-mail cell may hold a line break
# and an anchor before the address).
NAME_AND_CONTACT = re.compile(
    r'<div class="mp4"><b>(.*?)</b><br><br><span class="mtext">(.*?)</span><br><br></div>',
    re.IGNORECASE)
LABELS = ("电话", "手机", "传真", "邮件", "地址")
CELLS = [re.compile(r'<li class="mp6">%s：</li><li class="mp7">(?:[^\n]*\n)*?([^\n]*?)</li></ul>'
                    % label, re.IGNORECASE) for label in LABELS]


def email_of(cell):
    """An address written as a link is the anchor's text."""
    return between(cell, "target=_blank>", "</a>") if "href" in cell else cell


class DirectorySpider(scrapy.Spider):
    name = "directory"

    def __init__(self, base_url, keyword, **kwargs):
        super().__init__(**kwargs)
        self.search_url = base_url.rstrip("/") + SEARCH_PATH + urllib.parse.quote(keyword, "-.")

    def start_requests(self):
        yield scrapy.Request(self.search_url, callback=self.parse_first_page)

    def parse_first_page(self, response):
        found = PAGE_COUNT.search(response.text)
        for page in range(1, int(found.group(1)) + 1 if found else 1):
            yield scrapy.Request("%s&p=%d" % (self.search_url, page), callback=self.parse_listing)

    def parse_listing(self, response):
        for link in COMPANY_LINK.findall(response.text):
            if link.replace(" ", "").replace("\u3000", ""):
                # A link listed twice is a company page fetched twice, as any crawl of the
                # listing does.
                yield scrapy.Request(link.strip(" \t"), callback=self.parse_company,
                                     dont_filter=True)

    def parse_company(self, response):
        text = response.text
        head = NAME_AND_CONTACT.search(text)
        rows = [cell.search(text) for cell in CELLS]
        if not head or not all(rows):
            # A page without the whole block gives an empty row.
            yield dict.fromkeys(FIELDS, "")
            return
        values = [head.group(1), head.group(2), *(row.group(1) for row in rows)]
        values[5] = email_of(values[5])
        yield dict(zip(FIELDS, values))


def main():
    parser = argparse.ArgumentParser(description="Crawls the directory site with Scrapy.")
    parser.add_argument("base_url")
    parser.add_argument("keyword")
    parser.add_argument("out_csv")
    parser.add_argument("--concurrency", type=int, required=True)
    parser.add_argument("--autothrottle", action="store_true")
    args = parser.parse_args()
    process = CrawlerProcess(settings={
        "CONCURRENT_REQUESTS": args.concurrency,
        "CONCURRENT_REQUESTS_PER_DOMAIN": args.concurrency,
        "AUTOTHROTTLE_ENABLED": args.autothrottle,
        "AUTOTHROTTLE_TARGET_CONCURRENCY": float(args.concurrency),
        "ROBOTSTXT_OBEY": True,
        "FEEDS": {args.out_csv: {"format": "csv", "encoding": "utf-8", "fields": FIELDS,
                                 "overwrite": True}},
        "LOG_LEVEL": "WARNING",
        "TELNETCONSOLE_ENABLED": False,
        "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
    })
    process.crawl(DirectorySpider, base_url=args.base_url, keyword=args.keyword)
    process.start()


if __name__ == "__main__":
    main()
