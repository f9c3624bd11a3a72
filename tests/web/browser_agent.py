"""Drives Chromium for the web view's browser test: one JSON command per line on standard input,
one JSON answer per line on standard output. Run by /usr/bin/python3 with Debian's
python3-selenium, chromium and chromium-driver; the browser runs headless, offline, with a
fresh profile, and quits when the input ends."""
import json
import sys
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, WebDriverException
from selenium.webdriver.chrome.service import Service

# What the page shows, read from its document as a reader would see it.
READ_PAGE = """
const text = (node) => node ? node.textContent : null;
return {
  mark: window.__plMark || null,
  server: text(document.getElementById('server-name')),
  players: text(document.getElementById('players')),
  live: text(document.getElementById('live')),
  latest: text(document.getElementById('latest')),
  images: document.getElementsByTagName('img').length,
  scripts: document.getElementsByTagName('script').length,
  rooms: Array.from(document.querySelectorAll('#rooms .room')).map((room) => ({
    name: text(room.querySelector('.room-name')),
    count: text(room.querySelector('.count')),
    names: Array.from(room.querySelectorAll('.names li')).map((li) => li.textContent),
  })),
};
"""


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update',
                 '--disable-sync', '--disable-dev-shm-usage', '--user-data-dir=' + profile):
        options.add_argument(flag)
    # An alert stays open so that the test can see it.
    options.set_capability('unhandledPromptBehavior', 'ignore')
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def alert_open(driver):
    try:
        driver.switch_to.alert.text
        return True
    except NoAlertPresentException:
        return False


def page_state(driver):
    if alert_open(driver):
        return {'alert': True}
    state = driver.execute_script(READ_PAGE)
    state['alert'] = False
    state['console'] = [entry['message'] for entry in driver.get_log('browser')]
    return state


def matches(state, room, name, present):
    if state.get('alert'):
        return True
    for entry in state['rooms']:
        if name in entry['names']:
            return present and entry['name'] == room
    return not present


def set_viewport(driver, command):
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
        'width': command.get('width', 1100), 'height': command.get('height', 720),
        'deviceScaleFactor': 1, 'mobile': command.get('mobile', False)})


def handle(driver, command):
    action = command['do']
    if action == 'open':
        set_viewport(driver, command)
        driver.get(command['url'])
        return {'ok': True}
    if action == 'mark':
        driver.execute_script("window.__plMark = arguments[0];", command['mark'])
        return {'ok': True}
    if action == 'state':
        return {'ok': True, 'state': page_state(driver)}
    if action == 'await':
        started = time.monotonic()
        deadline = started + command['timeout']
        state = page_state(driver)
        while not matches(state, command.get('room'), command['name'], command['present']):
            if time.monotonic() >= deadline:
                return {'ok': False, 'state': state}
            time.sleep(0.05)
            state = page_state(driver)
        return {'ok': True, 'seconds': time.monotonic() - started, 'state': state}
    if action == 'screenshot':
        set_viewport(driver, command)
        time.sleep(0.2)
        return {'ok': driver.save_screenshot(command['path'])}
    return {'ok': False, 'error': 'unknown command ' + action}


def main():
    with tempfile.TemporaryDirectory(prefix='plbrowser-') as profile:
        driver = start_browser(profile)
        try:
            print(json.dumps({'ok': True, 'ready': True}), flush=True)
            for line in sys.stdin:
                try:
                    answer = handle(driver, json.loads(line))
                except WebDriverException as failure:
                    answer = {'ok': False, 'error': str(failure)}
                print(json.dumps(answer), flush=True)
        finally:
            driver.quit()


if __name__ == '__main__':
    main()
