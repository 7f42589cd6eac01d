include(CMakePackageConfigHelpers)

install(TARGETS morvik_platform morvik_verify morvik_platform_media morvik_compressor
  EXPORT MorvikVerifyTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The plugins the platform library loads on first use sit beside it.
install(TARGETS morvik_platform_sources morvik_vision_tesseract morvik_vision_docmodel morvik_platform_render morvik_platform_window LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET morvik_vision_faces_avx2)
  install(TARGETS morvik_vision_faces_avx2 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# Public headers only: platform/include and src/include hold nothing else.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/MorvikVerifyPackage_MorvikVerifyPackage.bundle
        DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(EXPORT MorvikVerifyTargets NAMESPACE morvik::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/MorvikVerify)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/MorvikVerifyConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MorvikVerifyConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/MorvikVerify)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MorvikVerifyConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MorvikVerifyConfig.cmake
              ${PROJECT_BINARY_DIR}/MorvikVerifyConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/MorvikVerify)
