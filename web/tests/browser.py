"""A headless Chromium on the page, served from a local folder; shared by the tests and the
benchmark."""
import os
import subprocess
import sys

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

WEB = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Server:
    """web/serve.py on a free port of 127.0.0.1."""

    def __init__(self, folder):
        self.process = subprocess.Popen([sys.executable, os.path.join(WEB, "serve.py"), folder, "0"],
                                        stdout=subprocess.PIPE, text=True)
        self.address = self.process.stdout.readline().strip()
        if not self.address.startswith("http://127.0.0.1:"):
            self.stop()
            raise RuntimeError("the page server did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def chromium(width=1200, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     f"--window-size={width},{height}"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def wait(driver, condition, seconds=120, message=""):
    return WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda d: condition(), message)
