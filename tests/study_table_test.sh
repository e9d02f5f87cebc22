#!/usr/bin/env bash
# scripts/study's table: a run without a figure is left out of that
# figure's mean and counted in its _missing column, never averaged as 0.
#   study_table_test.sh SOURCE_DIR
set -euo pipefail
got=$(printf '%s\n' \
  'run,error,psnr_y_mean_db,psnr_y_p5_db,decodable_frame_rate,frames_frozen,mos_mean' \
  '0.1-1,,30,20,0.5,10,3' \
  '0.1-2,,,,0,250,' \
  '0.2-1,,10,5,0.1,100,1' \
  '0.2-2,,n/a,n/a,,,' | "$1/scripts/study" --table loss)
want='loss,runs,psnr_y_mean_db,psnr_y_mean_db_min,psnr_y_mean_db_max,psnr_y_p5_db,psnr_y_p5_db_min,psnr_y_p5_db_max,decodable_frame_rate,decodable_frame_rate_min,decodable_frame_rate_max,frames_frozen,frames_frozen_min,frames_frozen_max,mos_mean,mos_mean_min,mos_mean_max,psnr_y_mean_db_missing,psnr_y_p5_db_missing,decodable_frame_rate_missing,frames_frozen_missing,mos_mean_missing
0.1,2,30,30,30,20,20,20,0.25,0,0.5,130,10,250,3,3,3,1,1,0,0,1
0.2,2,10,10,10,5,5,5,0.1,0.1,0.1,100,100,100,1,1,1,1,1,1,1,1'
[ "$got" = "$want" ] || { printf 'study table:\n%s\nwanted:\n%s\n' "$got" "$want"; exit 1; }
