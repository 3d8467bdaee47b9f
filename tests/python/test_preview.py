"""The preview page: in a real browser (Debian's headless chromium through selenium), and its
server's refusals without one."""
import http.client
import json
import os
import shutil
import subprocess
import threading
import time
import urllib.parse

import numpy
import pytest
from PIL import Image

import kelvane
from kelvane import preview

BINARY = os.environ["KELVANE_BINARY"]
SAMPLES = os.environ["KELVANE_SAMPLES"]


@pytest.fixture
def big_photo(tmp_path):
    """The coffee photograph enlarged to 2040 x 1360: large enough to be reduced 2x in the fit view."""
    photo = Image.open(os.path.join(SAMPLES, "coffee.png")).resize((2040, 1360), Image.BILINEAR)
    path = tmp_path / "photo.png"
    photo.save(path)
    return path


def running(path):
    server = preview.serve(path)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def request(server, method, path, body=None, host=None):
    port = server.server_address[1]
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    headers = {"Host": host or "127.0.0.1:%d" % port}
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    return response.status, response.read()


def test_the_server_answers_its_token_and_its_host_only(big_photo, tmp_path):
    server = running(big_photo)
    try:
        token = server.token
        assert request(server, "GET", "/%s/info" % token)[0] == 200
        assert json.loads(request(server, "GET", "/%s/info" % token)[1])["output"] == str(tmp_path / "photo-leveled.png")
        for path in ("/", "/info", "/%s" % token, "/%s/info" % token[:-1], "/%s/" % token[:-1], "/%s/%s/" % (token, token)):
            assert request(server, "GET", path)[0] == 404, path
        assert request(server, "GET", "/%s/../../etc/passwd" % token)[0] == 404
        assert request(server, "GET", "/%s/%s" % (token, urllib.parse.quote(str(big_photo))))[0] == 404
        # DNS rebinding: another name for this address is refused.
        assert request(server, "GET", "/%s/info" % token, host="attacker.example:%d" % server.server_address[1])[0] == 403
        status, body = request(server, "GET", "/%s/level?gen=1&algorithm=meen&window=9" % token)
        assert status == 400 and "unknown algorithm 'meen'" in json.loads(body)["error"]
        # Settings older than ones already asked for are not worked on.
        assert request(server, "GET", "/%s/level?gen=5&algorithm=mean&window=9" % token)[0] == 200
        status, body = request(server, "GET", "/%s/level?gen=3&algorithm=mean&window=9" % token)
        assert status == 409 and json.loads(body) == {"stale": True}
        # Save writes where it is told, and nowhere else.
        before = sorted(os.listdir(tmp_path))
        status, body = request(server, "POST", "/%s/save" % token, json.dumps(
            {"path": str(tmp_path / "saved.png"), "settings": {"algorithm": "mean", "window": "31"}}))
        assert status == 200 and json.loads(body)["written"] == str(tmp_path / "saved.png")
        assert sorted(os.listdir(tmp_path)) == sorted(before + ["saved.png"])
        status, body = request(server, "POST", "/%s/save" % token, json.dumps(
            {"path": str(tmp_path / "no-folder" / "x.png"), "settings": {"algorithm": "mean", "window": "31"}}))
        assert status == 400 and "No such file or directory" in json.loads(body)["error"]
    finally:
        server.shutdown()
        server.server_close()


def test_a_damaged_picture_gives_an_error_page_not_a_traceback(tmp_path):
    damaged = tmp_path / "damaged.png"
    damaged.write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(40))
    server = running(damaged)
    try:
        status, body = request(server, "GET", "/%s/info" % server.token)
        assert status == 200 and json.loads(body)["error"].startswith("cannot read %s" % damaged)
        status, body = request(server, "GET", "/%s/level?gen=1&algorithm=mean&window=9" % server.token)
        assert status == 500 and "Traceback" not in body.decode()
    finally:
        server.shutdown()
        server.server_close()


def test_the_command_prints_its_address_first_and_refuses_a_missing_picture(tmp_path, big_photo):
    missing = subprocess.run([os.sys.executable, "-m", "kelvane.preview", "--no-browser", str(tmp_path / "nope.png")],
                             capture_output=True, text=True, timeout=60)
    assert missing.returncode == 1 and missing.stderr.startswith("Error: cannot read")
    child = subprocess.Popen([os.sys.executable, "-m", "kelvane.preview", "--no-browser", str(big_photo)],
                             stdout=subprocess.PIPE, text=True)
    try:
        url = child.stdout.readline().strip()
        assert url.startswith("http://127.0.0.1:") and url.endswith("/")
        parts = urllib.parse.urlsplit(url)
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=60)
        connection.request("POST", parts.path + "quit", body="{}")
        assert connection.getresponse().status == 200
        assert child.wait(timeout=30) == 0
    finally:
        child.kill()


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,900",
                 "--disable-dev-shm-usage"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=options)


def shown_pixels(driver, element_id):
    """The pixels a canvas of the page holds, at its own size."""
    width, height, rgba = driver.execute_script("""
        const c = document.getElementById(arguments[0]);
        return [c.width, c.height, Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data)];""",
                                                element_id)
    return numpy.array(rgba, numpy.uint8).reshape(height, width, 4)[..., :3]


def wait_for(driver, condition, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if driver.execute_script("return " + condition):
            return
        time.sleep(0.05)
    raise AssertionError("the page never showed " + condition + ": " + driver.execute_script(
        "return document.getElementById('status').textContent"))


def settle(driver):
    """Waits until the page shows the result of its latest settings."""
    wait_for(driver, "!scheduled && document.getElementById('status').dataset.done == String(generation)")


def test_in_a_browser_the_page_shows_what_kelvane_computes_and_saves_it(big_photo, tmp_path):
    server = running(big_photo)
    driver = browser()
    try:
        driver.get(server.url)
        settle(driver)
        # The page opens on the first preset's settings.
        assert driver.find_element("id", "preset").get_attribute("value") == "document"
        assert driver.find_element("id", "max_gain").get_attribute("value") == "2"
        # Move the window control: the result changes to that window's.
        first = shown_pixels(driver, "after")
        driver.execute_script("document.getElementById('preset').value = '';")
        for element, value in [("algorithm", "std_fn"), ("method", "y709")]:
            driver.execute_script("const e = document.getElementById(arguments[0]); e.value = arguments[1];"
                                  "e.dispatchEvent(new Event('change'));", element, value)
        driver.find_element("id", "max_gain").clear()
        field = driver.find_element("id", "window")
        field.clear()
        field.send_keys("63")
        settle(driver)
        fit = shown_pixels(driver, "after")
        assert fit.shape == (680, 1020, 3) and not numpy.array_equal(fit, first)
        # The fit view is the reduced copy (2 x 2 means, as 16-bit codes) leveled with the
        # window halved and rounded (63 / 2 to 32: half windows 31 and 16)...
        photo = numpy.asarray(Image.open(big_photo))
        means = (photo.astype(numpy.float64) / 255).reshape(680, 2, 1020, 2, 3).mean(axis=(1, 3))
        reduced = numpy.rint(means * 65535).astype(numpy.uint16)
        leveled = kelvane.level(reduced, "std_fn", 32, method="y709").astype(numpy.float64)
        expected = numpy.clip(leveled * (255 / 65535), 0, 255).astype(numpy.uint8)
        assert numpy.array_equal(fit, expected), driver.find_element("id", "command").text
        # ...which approximates the full result: within 2.5 codes on average against its 2 x 2
        # means, since the reduction averages away texture finer than 2 pixels that the
        # windows' deviations include at full size.
        exact = kelvane.level(photo, "std_fn", 63, method="y709")
        exact_reduced = exact.astype(numpy.float64).reshape(680, 2, 1020, 2, 3).mean(axis=(1, 3))
        assert numpy.abs(exact_reduced - fit).mean() < 2.5
        assert "kelvane std_fn " in driver.find_element("id", "command").text
        # 1:1: a region of the exact result, bit for bit.
        driver.find_element("id", "full").click()
        settle(driver)
        region = driver.execute_script("return region()")
        shown = shown_pixels(driver, "after")
        x, y = region["x"], region["y"]
        assert shown.shape[:2] == (region["h"], region["w"]) and region["w"] > 100 and region["h"] > 100
        assert numpy.array_equal(shown, exact[y:y + region["h"], x:x + region["w"]])
        if os.environ.get("KELVANE_SCREENSHOT"):
            driver.find_element("id", "fit").click()
            settle(driver)
            driver.save_screenshot(os.environ["KELVANE_SCREENSHOT"])
        # Save: the command line's output, sample for sample.
        output = tmp_path / "chosen.png"
        field = driver.find_element("id", "output")
        field.clear()
        field.send_keys(str(output))
        driver.find_element("id", "save").click()
        wait_for(driver, "document.getElementById('saved').textContent.startsWith('Written')")
        subprocess.run([BINARY, "std_fn", str(big_photo), str(tmp_path / "cli.png"), "63", "y709"], check=True)
        assert numpy.array_equal(numpy.asarray(Image.open(output)), numpy.asarray(Image.open(tmp_path / "cli.png")))
    finally:
        driver.quit()
        server.shutdown()
        server.server_close()
