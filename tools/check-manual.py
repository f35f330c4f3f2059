#!/usr/bin/env python3
"""Checks the manual: well-formed HTML, unique ids, links that resolve (also between the two
languages), the same sections in both languages, and the qk-cli usage quoted exactly as
`qk-cli --help` prints it.

usage: check-manual.py MANUAL_DIR [QK_CLI]
"""
import html
import os
import subprocess
import sys
from html.parser import HTMLParser

PAGES = ("index.html", "en.html")
VOID = {"meta", "link", "br", "hr", "img", "input", "wbr", "col", "area", "base", "source"}


class Page(HTMLParser):
    def __init__(self, name):
        super().__init__(convert_charrefs=True)
        self.name = name
        self.stack = []
        self.errors = []
        self.ids = []
        self.links = []
        self.pres = []
        self._pre = None

    def where(self):
        line, col = self.getpos()
        return f"{self.name}:{line}:{col}"

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.append(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.links.append((attrs["href"], self.where()))
        if tag == "pre":
            self._pre = []
        if tag not in VOID:
            self.stack.append((tag, self.where()))

    def handle_startendtag(self, tag, attrs):
        if tag not in VOID:
            self.errors.append(f"{self.where()}: <{tag}/> is not a void element")
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.stack.pop()

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack:
            self.errors.append(f"{self.where()}: </{tag}> without an open element")
            return
        open_tag, opened = self.stack.pop()
        if open_tag != tag:
            self.errors.append(f"{self.where()}: </{tag}> closes <{open_tag}> opened at {opened}")
        if tag == "pre" and self._pre is not None:
            self.pres.append("".join(self._pre))
            self._pre = None

    def handle_data(self, data):
        if self._pre is not None:
            self._pre.append(data)

    def close(self):
        super().close()
        for tag, opened in self.stack:
            self.errors.append(f"{opened}: <{tag}> never closed")


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    folder = argv[1]
    pages = {}
    errors = []
    for name in PAGES:
        page = Page(name)
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            page.feed(f.read())
        page.close()
        errors += page.errors
        duplicates = {i for i in page.ids if page.ids.count(i) > 1}
        errors += [f"{name}: id '{i}' used more than once" for i in sorted(duplicates)]
        pages[name] = page

    for name, page in pages.items():
        for href, where in page.links:
            if "://" in href or href.startswith("mailto:"):
                continue
            target, _, fragment = href.partition("#")
            target = target or name
            if target not in pages:
                errors.append(f"{where}: link to unknown page '{href}'")
            elif fragment and fragment not in pages[target].ids:
                errors.append(f"{where}: link to missing section '{href}'")

    ja, en = (set(pages[n].ids) for n in PAGES)
    if ja != en:
        errors.append(f"sections differ between languages: {sorted(ja ^ en)}")
    for name, page in pages.items():
        if "support" not in page.ids:
            errors.append(f"{name}: no section with id 'support'")

    if len(argv) == 3:
        usage = subprocess.run([argv[2], "--help"], capture_output=True, text=True, check=True).stdout
        for name, page in pages.items():
            if not any(html.unescape(pre).rstrip("\n") == usage.rstrip("\n") for pre in page.pres):
                errors.append(f"{name}: the qk-cli usage differs from `qk-cli --help`")

    for error in errors:
        print(error, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
