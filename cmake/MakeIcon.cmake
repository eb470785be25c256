# cmake -DSVG=FILE.svg -DOUT=FILE.ico -DSIZES=16,32,... -P MakeIcon.cmake: a Windows icon
# with one image per size, drawn from the SVG by rsvg-convert and packed by icotool.
get_filename_component(work "${OUT}" DIRECTORY)
set(pngs)
string(REPLACE "," ";" sizes "${SIZES}")
foreach(size IN LISTS sizes)
  set(png "${work}/icon/${size}.png")
  execute_process(COMMAND rsvg-convert -w ${size} -h ${size} -o "${png}" "${SVG}"
                  COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND pngs "${png}")
endforeach()
execute_process(COMMAND icotool -c -o "${OUT}" ${pngs} COMMAND_ERROR_IS_FATAL ANY)
