#!/bin/sh
# Runs the Windows module inside the real host, AviSynth 2.6.0, under Wine,
# and compares every frame with the native module's bytes:
#   run_avs_client.sh NATIVE_BUILD WORKDIR WINE_RUN AVS_CLIENT MODULE HOST_DIR
# HOST_DIR holds avisynth.dll and DevIL.dll (../shared/hosts/avisynth-2.6.0
# beside the project). Where it is absent the run is skipped, with one line
# and exit status 77.
set -eu
native=$1 work=$2 wine_run=$3 client=$4 module=$5 host_dir=$6
if [ ! -f "$host_dir/avisynth.dll" ] || [ ! -f "$host_dir/DevIL.dll" ]; then
  echo "=== AviSynth 2.6 host SKIPPED: no avisynth.dll and DevIL.dll in $host_dir ==="
  exit 77
fi
[ -x "$native/avs_compare" ] || { echo "run_avs_client: $native/avs_compare is missing (build natively first)" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
# Wine's drive Z: is the root of the file system.
windows_path() { printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; }

# Uncompressed YUY2 AVIs of moving noisy pictures: 40 frames of 176 x 120
# for the scripts, 600 of 128 x 64 for the long stretch.
make_avi() {
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$2:rate=30000/1001,noise=alls=40:allf=t" -frames:v "$3" \
    -pix_fmt yuyv422 -c:v rawvideo -vtag YUY2 "$1"
}
make_avi "$work/source.avi" 176x120 40
make_avi "$work/long.avi" 128x64 600

"$wine_run" "$client" "$(windows_path "$host_dir/avisynth.dll")" "$(windows_path "$module")" \
  "$(windows_path "$work")" "$(windows_path "$work/source.avi")" "$(windows_path "$work/long.avi")"
"$native/avs_compare" "$native/zemivtc.so" "$work"
