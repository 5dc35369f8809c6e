"""A report previewed page by page, then printed to a PDF file: the preview
counts the pages the PDF holds, and the PDF carries the coins."""

import os
import re
import subprocess

import klvdrive as k


def run_status(s):
    status = s.window("Report Status Screen")
    s.find(status, "label", "Report Completed!")
    s.click(s.find(status, "push button", "Ok"))


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        s.menu("Navigate", "Reports")
        chooser = s.window("Reports")
        s.focus(chooser)
        s.click(s.find(s.find(chooser, "list"), "list item", "Complete Report"))
        s.click(s.find(chooser, "push button", "View"))
        run_status(s)

        preview = s.window("Complete Report")
        s.focus(preview)
        label = s.find(preview, "label", re.compile(r"^Page \d+ of \d+$"))
        m = re.match(r"Page 1 of (\d+)$", label.name)
        k.check(m, f"first page label: {label.name!r}")
        pages = int(m.group(1))
        k.check(pages > 1, "the complete report of 40 coins should take several pages")
        page_box = s.find(preview, "text", pred=lambda a: s.text(a) == "1")
        s.key("ctrl+n")
        k.wait_for("page 2", lambda: label.name == f"Page 2 of {pages}" and
                   s.text(page_box) == "2")
        s.menu("Navigate", "Last Page", window=preview)
        k.wait_for("the last page", lambda: label.name == f"Page {pages} of {pages}")
        s.set_line_edit(page_box, "2")
        s.key("Return")
        k.wait_for("page 2 typed", lambda: label.name == f"Page 2 of {pages}")
        s.menu("File", "Exit", window=preview)
        s.wait_gone("Complete Report")

        pdf = os.path.join(s.work, "complete.pdf")
        s.focus(chooser)
        s.click(s.find(chooser, "push button", "Print To PDF"))
        s.file_dialog("Save Report As a PDF File", pdf, "Save")
        run_status(s)
        k.wait_for("the PDF file", lambda: os.path.exists(pdf))
        info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
        k.check(re.search(rf"^Pages:\s+{pages}$", info, re.M),
                f"the PDF should have the preview's {pages} pages:\n{info}")
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True,
                              text=True, check=True).stdout
        for row in k.read_table(s.db()):
            k.check(row["DESCRIPTIO"] in text, f"{row['DESCRIPTIO']!r} is not in the PDF")
        s.click(s.find(chooser, "push button", "Exit"))
        s.wait_gone("Reports")


k.scenario(main)
