#!/bin/sh
# Demo "data backup" tool: records what it would back up beside itself and tells the user.
here=$(dirname "$0")
log="$here/backup-$(date +%Y%m%d-%H%M%S).txt"
{
    echo "MapleNook 演示备份"
    date
    echo "本演示不会读取手机数据。"
} >"$log"
message="演示备份已完成，记录保存在：$log"
if command -v notify-send >/dev/null 2>&1; then
    notify-send "数据备份" "$message" || true
fi
echo "$message"
