"""Search by example on two levels, typed into the criterion cells after a
click, then End Search: the count, the grid and "SEARCH ON" follow."""

import klvdrive as k


def criterion_cell(s, form, label):
    table = s.find(form, "table").queryTable()
    for r in range(table.nRows):
        if table.getAccessibleAt(r, 0).name.strip() == label:
            return table.getAccessibleAt(r, 2)
    raise k.Failure(f"no search row {label!r}")


def type_criterion(s, form, label, text):
    cell = criterion_cell(s, form, label)
    s.click(cell)
    s.type(text)


def main():
    with k.Session(seed_csv=k.report_coins_csv()) as s:
        k.check_equal(s.count(), 40, "count before the search")
        main = s.main_window()
        s.focus(main)
        s.key("ctrl+s")
        form = s.window("Search")
        s.focus(form)
        type_criterion(s, form, "Country", "canada")
        type_criterion(s, form, "Year", "19")
        s.click(s.find(form, "push button", "Find More"))
        s.find(form, "table cell", " SEARCH CRITERIA    (Level 2)")
        k.check_equal(criterion_cell(s, form, "Country").name.strip(), "",
                      "Country criterion after Find More")
        type_criterion(s, form, "Topic", "ships")
        s.click(s.find(form, "push button", "Ok"))
        s.wait_gone("Search")

        # Canada with "19" in its year, or "ships" in the topic, any case.
        s.wait_count(11)
        s.find(main, "label", "SEARCH ON")
        countries = s.grid_column("Country")
        years = s.grid_column("Year")
        topics = s.grid_column("Topic")
        k.check_equal(len(countries), 11, "rows in the grid")
        for country, year, topic in zip(countries, years, topics):
            k.check((country == "Canada" and "19" in year) or topic == "Ships",
                    f"{country} {year} {topic} should not pass the search")
        k.check(("Canada", "1893") not in list(zip(countries, years)),
                "Canada 1893 passes although its year lacks 19")

        s.menu("Navigate", "End Search")
        s.wait_count(40)
        k.wait_for("\"SEARCH ON\" to go", lambda: not s.find_all(main, "label", "SEARCH ON"))
        k.check_equal(len(s.grid_column("Country")), 40, "rows in the grid after End Search")


k.scenario(main)
