#!/usr/bin/python3
"""Opens a demosaic-bench HTML report in headless Chromium and prints what the
rendered page shows, one fact per line ("key<TAB>value"), for the browser test
to judge.

usage: report_probe.py PAGE SCREENSHOT_DIR

Every fact comes from the page as Chromium built it (scripts run, images
decoded), read with JavaScript through WebDriver, never from the HTML text.
Clicks go through WebDriver as a user's would. Exit status 77, with the reason
on standard error, where Chromium, its driver or Selenium is missing; 1 when
the page cannot be opened.
"""

import os
import shutil
import sys
import tempfile

SKIP = 77


def skip(reason):
    print("SKIP " + reason, file=sys.stderr)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    skip("python3-selenium is not installed (scripts/install-deps.sh installs it)")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver") or (
    "/usr/bin/chromedriver" if os.path.exists("/usr/bin/chromedriver") else None)
if CHROMIUM is None:
    skip("chromium is not installed (scripts/install-deps.sh installs it)")
if DRIVER is None:
    skip("chromedriver is not installed (chromium-driver; scripts/install-deps.sh installs it)")

# Headless as root on a machine without a network: no sandbox, no GPU, and
# none of the background connections that the closed network would refuse.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--hide-scrollbars", "--force-color-profile=srgb"]

# What the page holds, read from the live document.
FACTS_SCRIPT = """
const images = Array.from(document.images);
const broken = images.filter(i => !(i.complete && i.naturalWidth > 0)).map(i => i.getAttribute('src'));
const table = document.getElementById('figures');
const groups = table ? Array.from(table.querySelectorAll('thead tr.groups th.method')) : [];
const body = table && table.tBodies[0] ? Array.from(table.tBodies[0].rows) : [];
const foot = table && table.tFoot ? Array.from(table.tFoot.rows) : [];
return {
  images_total: images.length,
  images_broken: broken.length,
  broken_sources: broken.join('|'),
  body_rows: body.length,
  foot_rows: foot.length,
  foot_label: foot.length ? foot[0].cells[1].textContent.trim() : '',
  cells_per_row: body.length ? body[0].cells.length : 0,
  method_groups: groups.map(g => g.textContent.trim()).join('|'),
  group_spans: groups.map(g => g.colSpan).join('|'),
  row_names: body.map(r => r.cells[1].textContent).join('|'),
  sections: document.querySelectorAll('section.image').length,
  interval_plots: document.querySelectorAll('#comparisons svg.interval-plot').length,
  interval_dots: document.querySelectorAll('#comparisons svg.interval-plot circle').length,
  interval_plot_width: (() => {
    const plot = document.querySelector('#comparisons svg.interval-plot');
    return plot ? Math.round(plot.getBoundingClientRect().width) : 0;
  })(),
  text_length: document.body ? document.body.innerText.length : 0,
};
"""

# The names and the values of one column, in the order the rows now show.
ORDER_SCRIPT = """
const column = arguments[0];
const rows = Array.from(document.getElementById('figures').tBodies[0].rows);
return {
  names: rows.map(r => r.cells[1].textContent).join('|'),
  values: rows.map(r => r.cells[column].getAttribute('data-value')).join('|'),
  sort: document.querySelector('th[data-column="' + column + '"]').getAttribute('aria-sort') || '',
};
"""


def emit(key, value):
    print(key + "\t" + str(value).replace("\n", " "))


def screenshot(driver, path, width, phone):
    """The whole page at `width` CSS pixels, as a phone or a laptop shows it."""
    metrics = {"width": width, "height": 800, "deviceScaleFactor": 1, "mobile": phone}
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
    height = driver.execute_script("return document.documentElement.scrollHeight")
    metrics["height"] = min(int(height), 12000)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
    driver.save_screenshot(path)
    emit("screenshot", path)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    page, shots = os.path.abspath(sys.argv[1]), sys.argv[2]
    os.makedirs(shots, exist_ok=True)
    profile = tempfile.mkdtemp(prefix="report-probe-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in FLAGS + ["--user-data-dir=" + profile]:
        options.add_argument(flag)
    driver = None
    try:
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.set_page_load_timeout(30)
        driver.set_window_size(1366, 800)
        # get() returns after the load event, which waits for every image.
        driver.get("file://" + page)
        for key, value in driver.execute_script(FACTS_SCRIPT).items():
            emit(key, value)

        # Sort by the first CPSNR heading: once, then again.
        headings = driver.find_elements(By.CSS_SELECTOR, "#figures thead th[data-column]")
        target = next((h for h in headings if h.text.strip().startswith("CPSNR")), None)
        if target is not None:
            column = int(target.get_attribute("data-column"))
            emit("sort_column", column)
            before = driver.execute_script(ORDER_SCRIPT, column)
            emit("order_before", before["names"])
            for click in ("first", "second"):
                target.find_element(By.TAG_NAME, "button").click()
                after = driver.execute_script(ORDER_SCRIPT, column)
                emit("order_after_" + click, after["names"])
                emit("values_after_" + click, after["values"])
                emit("aria_after_" + click, after["sort"])

        screenshot(driver, os.path.join(shots, "report-laptop.png"), 1366, False)
        screenshot(driver, os.path.join(shots, "report-phone.png"), 390, True)
    except Exception as error:  # any WebDriver failure: the page could not be probed
        print("probe failed: %s" % error, file=sys.stderr)
        return 1
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
