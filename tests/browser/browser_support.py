"""Headless Chromium for the dashboard tests, and bounded waits.

Run by /usr/bin/python3, where Debian's python3-selenium lives. When the browser, its
driver or selenium is missing, a test exits with SKIP (ctest's SKIP_RETURN_CODE) after
saying why; CI installs all three, so there it never skips.
"""

import os
import shutil
import sys
import tempfile
import time

SKIP = 77


def skip(why):
    # CI installs the browser (scripts/install-deps): a missing one there is a failure.
    if os.environ.get("CI"):
        print("FAILED: " + why, flush=True)
        sys.exit(1)
    print("SKIPPED: " + why, flush=True)
    sys.exit(SKIP)


def find_browser():
    """Paths of chromium and chromedriver, or a skip with the reason."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        skip("python3-selenium is not installed (run scripts/install-deps)")
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver") or (
        "/usr/bin/chromedriver" if os.path.exists("/usr/bin/chromedriver") else None)
    if chromium is None or driver is None:
        skip("chromium or chromium-driver is not installed (run scripts/install-deps)")
    return chromium, driver


def start_browser(width, height, phone=False):
    """A headless Chromium of the given viewport size that reaches nothing but loopback;
    phone: a touch screen's viewport (a desktop window cannot be as narrow as a phone)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    chromium, driver = find_browser()
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    profile = tempfile.mkdtemp(prefix="cs-browser-")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--no-default-browser-check", "--disable-extensions",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-default-apps", "--no-proxy-server",
                     "--hide-scrollbars", "--force-device-scale-factor=1",
                     "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service(executable_path=driver), options=options)
    if phone:
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": True})
        browser.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True})
    browser.set_page_load_timeout(20)
    browser.set_script_timeout(10)
    browser._cs_profile = profile
    return browser


def stop_browser(browser):
    profile = getattr(browser, "_cs_profile", None)
    try:
        browser.quit()
    finally:
        if profile:
            shutil.rmtree(profile, ignore_errors=True)


def wait_for(condition, timeout, what, step=0.05):
    """Calls condition until it returns a true value (which is returned) or timeout seconds
    pass (then AssertionError naming what was awaited). Exceptions count as not yet."""
    end = time.monotonic() + timeout
    last = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # the page may be between two renderings
            last = error
        if time.monotonic() >= end:
            raise AssertionError("timed out after %.1f s waiting for %s%s" % (
                timeout, what, "" if last is None else " (last error: %r)" % last))
        time.sleep(step)


# Reads what a person sees of the stations: one entry per row of the station table.
STATIONS_SCRIPT = """
return Array.from(document.querySelectorAll('#stations tbody tr')).map((tr) => ({
  name: tr.cells[0].querySelector('.name, .noname').textContent,
  nameCell: tr.cells[0].textContent,
  address: tr.dataset.address,
  talking: tr.classList.contains('talking'),
  background: getComputedStyle(tr.cells[0]).backgroundColor,
  elementsInName: tr.cells[0].querySelectorAll('.name *').length,
  visible: tr.getBoundingClientRect().height > 0
}));
"""


def stations(browser):
    return browser.execute_script(STATIONS_SCRIPT)


def connection(browser):
    return browser.execute_script("return document.getElementById('connection').textContent;")
