#!/usr/bin/env bash
# The FFMS2 source reader (bench/source_driver.cpp): the first opening's
# indexing and first reading of a DVD-sized MPEG-2 program stream, reading
# every frame of it against reading the same frames from its Y4M decode (in
# one run, as ratios), and peak memory reading a source of 100,000 frames
# (a short clip looped) against one of 10,000. Then the command on them:
# `zemivtc plan` from the VOB with an empty index cache (indexing included)
# and with its entry, against the same plan from the Y4M, in turn in one
# run; and its peak memory on the 10,000- and 100,000-frame sources. Raw
# repetitions go to bench/source_bench.csv.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
driver=$build/source_bench_driver
[ -x "$driver" ] || cmake --build "$build" --target source_bench_driver -j2 >/dev/null
zemivtc=$build/zemivtc
[ -x "$zemivtc" ] || cmake --build "$build" --target zemivtc_cli -j2 >/dev/null
work=$(mktemp -d /tmp/zemivtc-source-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
ff="ffmpeg -v error -nostdin -y"
mpeg2="-c:v mpeg2video -threads 1 -dct int -idct simple -flags +ilme+ildct+bitexact"
csv=bench/source_bench.csv
echo "measure,repetition,value,unit" >"$csv"

# 20 seconds of DVD-sized interlaced video (720x480, 30000/1001).
$ff -f lavfi -i testsrc2=size=720x480:rate=60000/1001 -frames:v 600 -vf tinterlace=mode=interleave_top,setfield=tff \
  -pix_fmt yuv420p $mpeg2 -b:v 6M -maxrate 9M -bufsize 1835k -g 15 -bf 2 -f vob "$work/dvd.vob"
$ff -i "$work/dvd.vob" -fps_mode passthrough -f yuv4mpegpipe "$work/dvd.y4m"
echo "dvd.vob: $(stat -c %s "$work/dvd.vob") bytes, 600 frames 720x480"
for r in 1 2 3; do
  rm -rf "$work/cache"
  line=$("$driver" index "$work/dvd.vob" "$work/cache")
  echo "index $r: $line"
  first=$(sed 's/.*first_open_s=\([0-9.]*\).*/\1/' <<<"$line")
  cached=$(sed 's/.*cached_open_s=\([0-9.]*\).*/\1/' <<<"$line")
  echo "first_open,$r,$first,s" >>"$csv"
  echo "cached_open,$r,$cached,s" >>"$csv"
done
for r in 1 2 3; do
  line=$("$driver" read "$work/dvd.vob" "$work/cache" "$work/dvd.y4m")
  echo "read $r: $line"
  for key in source_fps y4m_fps source_over_y4m_time; do
    echo "$key,$r,$(sed "s/.*$key=\([0-9.]*\).*/\1/" <<<"$line"),$([ $key = source_over_y4m_time ] && echo ratio || echo fps)" >>"$csv"
  done
done

# A long source: a 100-frame clip at 176x144, looped in a program stream
# (each join loses a frame of the clip's open GOP, so 99 a loop).
$ff -f lavfi -i testsrc2=size=176x144:rate=30000/1001 -frames:v 100 -pix_fmt yuv420p $mpeg2 -b:v 400k -g 15 -bf 2 \
  -f vob "$work/short.vob"
for frames in 10000 100000; do
  $ff -stream_loop $((frames / 99)) -i "$work/short.vob" -c copy -f vob "$work/long$frames.vob"
  rm -rf "$work/cache"
  /usr/bin/time -v "$driver" readall "$work/long$frames.vob" "$work/cache" 2>"$work/time.txt" >"$work/out.txt"
  rss=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt")
  wall=$(awk -F': ' '/Elapsed/ {print $2}' "$work/time.txt")
  echo "long source: $(cat "$work/out.txt") file $(stat -c %s "$work/long$frames.vob") bytes, index entry $(stat -c %s "$work"/cache/*.ffindex) bytes, peak RSS $rss kB, wall $wall (first opening included)"
  echo "peak_rss_$frames,1,$rss,kB" >>"$csv"
done

# zemivtc plan from the VOB: the first run (indexing and the first reading,
# then the analysis), a later run (the index from the cache), and the same
# plan from the Y4M, next to each other in every repetition. Wall seconds
# from the clock, peak RSS from /usr/bin/time.
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$(bc <<<"scale=3; ($t1 - $t0) / 1") $(tail -1 "$work/rss")"
}
echo "load before the command's runs: $(cut -d' ' -f1-3 /proc/loadavg)"
for r in 1 2 3 4 5; do
  rm -rf "$work/cmdcache"
  first=$(XDG_CACHE_HOME=$work/cmdcache timed "$zemivtc" plan -q --out /dev/null "$work/dvd.vob")
  cached=$(XDG_CACHE_HOME=$work/cmdcache timed "$zemivtc" plan -q --out /dev/null "$work/dvd.vob")
  y4m=$(timed "$zemivtc" plan -q --out /dev/null "$work/dvd.y4m")
  f=${first% *} c=${cached% *} y=${y4m% *}
  echo "plan $r: first run $f s, later run $c s ($(bc <<<"scale=0; 600 / $c") frames/s), from the Y4M $y s" \
    "($(bc <<<"scale=0; 600 / $y") frames/s); VOB over Y4M $(bc <<<"scale=2; $c / $y"); indexing and first" \
    "reading $(bc <<<"scale=3; $f - $c") s"
  echo "plan_first_run,$r,$f,s" >>"$csv"
  echo "plan_later_run,$r,$c,s" >>"$csv"
  echo "plan_from_y4m,$r,$y,s" >>"$csv"
  echo "plan_vob_over_y4m,$r,$(bc <<<"scale=3; $c / $y"),ratio" >>"$csv"
done
# Memory on the long sources: from the VOB (first run), and the same frames
# through a pipe from ffmpeg (the command's own peak alone).
for frames in 10000 100000; do
  rm -rf "$work/cmdcache"
  run=$(XDG_CACHE_HOME=$work/cmdcache timed "$zemivtc" plan -q --out "$work/long.zem" "$work/long$frames.vob")
  $ff -i "$work/long$frames.vob" -fps_mode passthrough -f yuv4mpegpipe - 2>/dev/null |
    /usr/bin/time -f "%M" -o "$work/rss" "$zemivtc" plan -q --out "$work/pipe.zem" - 2>/dev/null
  cmp -s "$work/long.zem" "$work/pipe.zem" && same=yes || same=no
  echo "plan of long$frames.vob (first run): $(stat -c %s "$work/long.zem") positions, ${run% *} s, peak RSS" \
    "${run#* } kB; from a Y4M pipe of it: peak RSS $(tail -1 "$work/rss") kB, same plan: $same"
  echo "plan_peak_rss_$frames,1,${run#* },kB" >>"$csv"
  echo "plan_pipe_peak_rss_$frames,1,$(tail -1 "$work/rss"),kB" >>"$csv"
  echo "plan_seconds_$frames,1,${run% *},s" >>"$csv"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
