#!/usr/bin/env bash
# Makes the README's screenshots again: a database filled with generated
# pictures by pixhold-db, the program started in a scratch home under Xvfb, a
# picture of the main window, then of the viewer opened on the first
# thumbnail.
#   dist/screenshots.sh [BUILD_DIR] [OUT_DIR]     (./dev.sh screenshots)
# BUILD_DIR holds pixhold and tools/pixhold-db (default build/release); the
# pictures go to OUT_DIR (default docs/images) as main-window.png and viewer.png.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
out=$(realpath -m "${2:-docs/images}")
[[ -x $build/pixhold && -x $build/tools/pixhold-db ]] || {
  echo "screenshots: no pixhold and tools/pixhold-db in $build (./dev.sh build first)" >&2
  exit 2
}

need=()
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v xdotool >/dev/null || need+=(xdotool)
command -v import >/dev/null || need+=(imagemagick)
if ((${#need[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
export XDG_CACHE_HOME=$scratch/home/.cache XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset SESSION_MANAGER QT_QPA_PLATFORM WAYLAND_DISPLAY

# Pictures: landscapes in three moods without category, and a folder of each
# kind that becomes a category.
pics=$scratch/pictures
mkdir -p "$pics/Sea" "$pics/Hills" "$pics/Town"
landscape() {  # landscape FILE SKY HORIZON GROUND SUN-X SUN-Y SEED
  local file=$1 sky=$2 horizon=$3 ground=$4 sx=$5 sy=$6 seed=$7
  convert -size 640x480 "gradient:$sky-$horizon" \
    -fill "#fad040" -draw "circle $sx,$sy $((sx + 34)),$sy" \
    \( -size 640x480 -seed "$seed" plasma:"$ground"-"$ground" -blur 0x6 \) \
    \( -size 640x480 xc:black -fill white \
       -draw "polygon 0,480 0,$((300 + seed % 60)) 150,$((240 + seed % 50)) 300,$((320 - seed % 40)) 460,$((250 + seed % 30)) 640,$((330 - seed % 50)) 640,480" \) \
    -composite -quality 90 "$file"
}
n=0
for mood in "#6fa8dc #d9ecf7 #3c8c46" "#f6b26b #ffe599 #6b8e23" "#1c4587 #9fc5e8 #2f5f3a" \
            "#cc4125 #f9cb9c #5b4636" "#8e7cc3 #d9d2e9 #38761d" "#76a5af #d0e0e3 #7f6000"; do
  read -r sky horizon ground <<<"$mood"
  for i in 1 2; do
    n=$((n + 1))
    landscape "$pics/view$n.jpg" "$sky" "$horizon" "$ground" $((120 + 60 * n % 400)) $((70 + 9 * n)) $((n * 7))
  done
done
for i in 1 2 3; do
  landscape "$pics/Sea/beach$i.jpg" "#3d85c6" "#cfe2f3" "#1155cc" $((150 * i)) 90 $((i * 11))
  landscape "$pics/Hills/hill$i.jpg" "#93c47d" "#fff2cc" "#274e13" $((100 + 120 * i)) 80 $((i * 13))
  landscape "$pics/Town/street$i.jpg" "#999999" "#eeeeee" "#666666" $((90 * i + 60)) 100 $((i * 17))
done
"$build/tools/pixhold-db" import "$XDG_DATA_HOME/Norvane/Pixhold/Default" "$pics" --recurse \
  --folders-as-categories >/dev/null

mkdir -p "$out"
cat >"$scratch/shoot.sh" <<'EOF'
#!/usr/bin/env bash
# Runs inside xvfb-run: start, capture, step into the viewer, capture, end.
set -euo pipefail
program=$1 out=$2
"$program" >"$HOME/pixhold.log" 2>&1 &
pid=$!
window=""
for _ in $(seq 1 120); do
  window=$(xdotool search --onlyvisible --name '^Pixhold$' 2>/dev/null | head -n 1 || true)
  [[ -n $window ]] && break
  sleep 0.25
done
[[ -n $window ]] || { echo "screenshots: the main window did not show" >&2; cat "$HOME/pixhold.log" >&2; exit 1; }
sleep 3  # the thumbnails are filled in
import -window "$window" "$out/main-window.png"
# Double-click the first thumbnail: the viewer opens on it, maximised.
xdotool mousemove --window "$window" 50 95 click --repeat 2 --delay 80 1
viewer=""
for _ in $(seq 1 80); do
  viewer=$(xdotool search --onlyvisible --name 'view1\.jpg' 2>/dev/null | head -n 1 || true)
  [[ -n $viewer ]] && break
  sleep 0.25
done
[[ -n $viewer ]] || { echo "screenshots: the viewer did not show" >&2; cat "$HOME/pixhold.log" >&2; exit 1; }
sleep 2
import -window root "$out/viewer.png"
# Ends as Exit does: settings saved, tables closed.
kill -TERM "$pid"
wait "$pid"
EOF
chmod +x "$scratch/shoot.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$scratch/shoot.sh" "$build/pixhold" "$out"
echo "screenshots: $out/main-window.png $out/viewer.png"
