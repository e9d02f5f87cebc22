# 4 shares over the hosts in $HOSTS (host1,host2,...), each of which sees
# this folder at the same path and has the tools on its PATH
parallel --sshlogin "$HOSTS" --workdir "$PWD" \
  'trace_video receive --runs list.csv --playout-delay 0.1 --shard {}/4 clip.mp4 > video-share-{}.csv' ::: 0 1 2 3
trace_video merge video-share-*.csv > quality.csv
