# Installs a symbolic link named name in the install folder folder to the
# installed file target (folders as GNUInstallDirs names them: relative to the
# prefix, or absolute).  The link is relative, worked out when installing, so
# that it holds for any --prefix and whichever folder the tree is moved to.
function(linebench_installlink folder name target)
  install(CODE "
    set(linebench_folder \"${folder}\")
    set(linebench_target \"${target}\")
    if(NOT IS_ABSOLUTE \"\${linebench_folder}\")
      set(linebench_folder \"\${CMAKE_INSTALL_PREFIX}/\${linebench_folder}\")
    endif()
    if(NOT IS_ABSOLUTE \"\${linebench_target}\")
      set(linebench_target \"\${CMAKE_INSTALL_PREFIX}/\${linebench_target}\")
    endif()
    file(RELATIVE_PATH linebench_link \"\${linebench_folder}\" \"\${linebench_target}\")
    set(linebench_name \"\$ENV{DESTDIR}\${linebench_folder}/${name}\")
    message(STATUS \"Installing: \${linebench_name} -> \${linebench_link}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${linebench_folder}\")
    file(CREATE_LINK \"\${linebench_link}\" \"\${linebench_name}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${linebench_name}\")
  ")
endfunction()

# Says, as the last lines of an install, each baseline that the build left out
# for want of its library, which the installed linebench-compare then lacks
# though its help names it.  In a component of its own, so that it can be
# asked for alone.
function(linebench_installleftout)
  get_property(leftout GLOBAL PROPERTY LINEBENCH_LEFTOUT)
  foreach(entry ${leftout})
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 missing)
    install(CODE "message(\"${program} not installed: the build left it out, for want of ${missing}; \"
      \"tools/deps installs it, then configure, build and install again\")" COMPONENT leftout)
  endforeach()
endfunction()
