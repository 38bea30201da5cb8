// Drives `zemivtc edit` in the system's Chromium as a person would: steps
// with the keys, sets a code, finds it in the keep file and the output frame
// changed, reloads and finds it still there, re-plans, saves, and checks the
// saved plan renders as many frames as the page counts. SCREENSHOT=FILE
// keeps a picture of the page.
import {execFileSync, spawn} from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";

const [zemivtc, work, browserPath] = process.argv.slice(2);
const clip = path.join(work, "clip.y4m");
let passed = 0, failed = 0;
function check(ok, what) {
  if (ok) ++passed;
  else {
    ++failed;
    console.log("FAILED: " + what);
  }
}

// Waits for `test()` to hold, up to a deadline that says what it saw.
async function until(test, what, seconds = 60) {
  const end = Date.now() + seconds * 1000;
  let seen;
  while (Date.now() < end) {
    if ((seen = await test())) return seen;
    await new Promise(resolve => setTimeout(resolve, 50));
  }
  throw new Error("waited " + seconds + " s for " + what + "; last saw " + JSON.stringify(seen));
}

const editor = spawn(zemivtc, ["edit", "-q", clip], {stdio: ["ignore", "pipe", "inherit"]});
let address = "";
editor.stdout.on("data", chunk => { address += chunk; });
const browser = await puppeteer.launch({
  executablePath: browserPath,
  userDataDir: fs.mkdtempSync(path.join(work, "profile-")),
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  await until(() => address.includes("\n"), "the editor's address");
  address = address.trim();
  const page = await browser.newPage();
  await page.setViewport({width: 1100, height: 1000});
  const ready = () => page.waitForSelector("body[data-ready='1']", {timeout: 60000});
  const at = () => page.evaluate(() => Number(document.body.dataset.position));
  const codes = () => page.evaluate(() => state.codes.join(""));
  // The output picture once loaded for the code shown, as a digest of its
  // pixels ("none" where the code makes no frame).
  const output = () => until(() => page.evaluate(() => {
    const img = document.getElementById("out"), shown = document.body.dataset.output;
    if (shown === "none" && !img.getAttribute("src")) return "none";
    if (!img.complete || shown !== img.getAttribute("src")) return "";
    const c = document.createElement("canvas");
    c.width = img.naturalWidth;
    c.height = img.naturalHeight;
    const g = c.getContext("2d");
    g.drawImage(img, 0, 0);
    let sum = 0;
    for (const v of g.getImageData(0, 0, c.width, c.height).data) sum = (sum * 31 + v) % 1000000007;
    return shown + " " + sum;
  }), "the output frame");

  await page.goto(address);
  await ready();
  const places = await page.evaluate(() => state.places);
  const start = await at();
  for (let i = 0; i < 3; ++i) await page.keyboard.press("ArrowRight");
  await page.keyboard.press("ArrowLeft");
  check(await at() === start + 2, "two steps on from " + start);
  const plan = await codes();
  await page.keyboard.press("ArrowDown");
  const nextFrame = plan.slice(start + 3).search(/[1-6]/) + start + 3;
  check(await at() === nextFrame, "down goes to the next output frame, " + nextFrame);
  check(places.length > 0, "the edit in the clip is a place to check");
  await page.keyboard.press("n");
  const place = places.find(p => p > nextFrame);
  if (place !== undefined) check(await at() === place, "n goes to the next place, " + place);

  const p = await at(), code = plan[p] === "1" ? "4" : "1";
  const before = await output();
  await page.keyboard.press(code);
  await until(() => page.evaluate(() => document.getElementById("status").textContent), "the code's answer");
  const after = await output();
  check(after !== before && after.includes("/" + p + "/" + code + ".png"), "the output frame changed: " + after);
  const keep = fs.readFileSync(path.join(work, "clip.keep"), "utf8");
  check(keep.split("\n").includes(p + " " + code), "the keep file keeps " + p + " " + code + ":\n" + keep);

  await until(() => fs.readFileSync(path.join(work, "clip.keep.state"), "utf8").includes("position " + p + "\n"),
              "the state file at " + p);
  await page.reload();
  await ready();
  check(await at() === p, "the reload comes back to " + p);
  check((await codes())[p] === code, "the reload still has " + code + " at " + p);

  await page.keyboard.press("r");
  await until(() => page.evaluate(() => /moved/.test(document.getElementById("status").textContent)), "the re-plan");
  check((await codes())[p] === code, "the re-plan keeps " + code + " at " + p);
  await page.keyboard.press("s");
  await until(() => page.evaluate(() => /saved/.test(document.getElementById("status").textContent)), "the save");
  const frames = await page.evaluate(() => Number(document.getElementById("frames").textContent));
  const info = execFileSync(zemivtc, ["--plan", path.join(work, "clip.zem"), "--info", clip], {encoding: "utf8"});
  check(info.includes("frames: " + frames + "\n"), "the saved plan renders the page's " + frames + " frames:\n" + info);
  if (process.env.SCREENSHOT) await page.screenshot({path: process.env.SCREENSHOT});
} catch (e) {
  check(false, e.stack || String(e));
} finally {
  await browser.close();
  editor.kill();
}
console.log(passed + " passed, " + failed + " failed");
process.exit(failed ? 1 : 0);
